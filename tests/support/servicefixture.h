#pragma once

// varnelvpn-service as tests run it: the real binary, as root, with its
// socket, data folder and settings in a folder of the test's own; and
// clients of any uid that speak its protocol.

#include "common/serviceprotocol.h"

#include <QProcess>
#include <QString>

#include <csignal>
#include <sys/prctl.h>
#include <sys/types.h>

#include <string>

// One connection to the service, made as uid: the kernel records the
// credentials at connect(), so the process is that uid for a moment only.
class ServicePeer
{
public:
    ServicePeer(const QString &socket, uid_t uid);
    ~ServicePeer();
    ServicePeer(const ServicePeer &) = delete;
    ServicePeer &operator=(const ServicePeer &) = delete;

    bool connected() const { return m_fd >= 0; }
    // As much of bytes as the service takes (it may close on the way).
    void send(const std::string &bytes);
    // The next reply as "ok", "<code>" or "<code> <field>" (with " | " and
    // the message when asked); "closed" when the service ended the
    // connection, "silence" when nothing came within ms.
    QString reply(bool withMessage = false, int ms = 3000);
    // send(framed(payload)), then reply().
    QString request(const std::string &payload, bool withMessage = false);
    // A field of the last reply.
    std::string field(const char *key) const { return m_last.value(key); }

    // The length prefix and payload, as on the wire.
    static std::string framed(const std::string &payload);

private:
    int m_fd = -1;
    Varnel::ServiceProtocol::FrameReader m_reader;
    Varnel::ServiceProtocol::Message m_last;
};

// The service goes with the test process, also when that ends without its
// destructors (a qFatal, a crash): a root daemon must not outlive its test.
class ChildOfTest : public QProcess
{
protected:
    void setupChildProcess() override { ::prctl(PR_SET_PDEATHSIG, SIGTERM); }
};

class ServiceInstance
{
public:
    // program: the service binary; scripts: the folder of the kill-switch
    // scripts to install; dir: the test's folder (made reachable by every
    // uid), which gets run/control, data/ and service.conf (none by default).
    ServiceInstance(const QString &program, const QString &scripts, const QString &dir);
    ~ServiceInstance(); // stops it when it runs

    // Installs the scripts (root-owned, as packaging/killswitch/install.sh
    // does) once, starts the service and waits until it answers.
    bool start();
    // SIGTERM; true when it stopped cleanly (exit status 0).
    bool stop();

    QString socket() const { return m_dir + QStringLiteral("/run/control"); }
    QString dataDir() const { return m_dir + QStringLiteral("/data"); }
    QString configFile() const { return m_dir + QStringLiteral("/service.conf"); }
    QProcess &process() { return m_process; }

private:
    QString m_program;
    QString m_scripts;
    QString m_dir;
    ChildOfTest m_process;
};
