#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace Varnel {

// What an end-to-end test knows about the VPN lab it runs in: the values
// that run-in-lab.sh exports (VARNEL_LAB_<key>) and control of the lab's
// servers and service through tools/lab/lab.sh: run directly as root, or
// asked of the lab's agent by a test that runs as the lab user.
class Lab
{
public:
    // True when the process runs inside a lab (through run-in-lab.sh).
    static bool inside();

    // VARNEL_LAB_<key>, e.g. value("TARGET"); empty when not set.
    static QString value(const char *key);

    // Stops one server ("ocserv", "openvpn", "iperf3") with the given
    // signal and returns once all its processes are gone.
    static bool killServer(const QString &server, const QString &signal = QStringLiteral("TERM"));

    // Starts a stopped server again and returns once it serves.
    static bool startServer(const QString &server);

    // Stops the VarnelVPN service of the lab with the given signal, or
    // starts it again (returns once it listens).
    static bool stopService(const QString &signal = QStringLiteral("TERM"));
    static bool startService();

    // True while the kill switch blocks the client namespace.
    static bool blocking();

    // The OpenVPN client configuration as the backend delivers it: Base64
    // of a template with the "remoteIP" and "remotePort" placeholders.
    static QByteArray openVpnTemplateBase64();

    // Output of the last failed control command, for test messages.
    static QString lastError();
    // Output of the last control command (what `lab.sh leaks` printed, ...).
    static QString output();

    // Runs a command to its end (bounded to 30 s), with input on its stdin;
    // false, with its merged output in *error, unless it exits 0.
    static bool run(const QString &program, const QStringList &arguments, QString *error,
                    const QByteArray &input = QByteArray(), const QString &workDir = QString());

    // Ends a process the test started: SIGTERM, then SIGKILL after graceMs.
    static void endProcess(QProcess &process, int graceMs = 5000);

    // Runs `lab.sh ARGUMENTS`: directly as root, else through the lab's
    // agent; false, with the output in lastError(), unless it exits 0.
    static bool control(const QStringList &arguments);
};

} // namespace Varnel
