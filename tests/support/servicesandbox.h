#pragma once

#include "servicefixture.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// The real VarnelVPN service for one test process, as root in a network
// namespace of the process's own, so that the devices and firewall rules it
// makes are the test's alone and go with it; and a private settings store.
//
//   int main(int argc, char **argv)
//   {
//       if (const int skip = ServiceSandbox::enterNamespace())
//           return skip;            // 77: not root, or no namespaces
//       ServiceSandbox sandbox;     // before anything reads the settings
//       ...
class ServiceSandbox
{
public:
    // Moves this process (still single-threaded) into a network namespace of
    // its own with loopback up. 0 on success, else 77 after saying why.
    static int enterNamespace();

    // Starts the service with a data directory holding this tree's
    // kill-switch scripts, and points VARNELVPN_SERVICE_SOCKET,
    // XDG_CONFIG_HOME and XDG_STATE_HOME at folders of the sandbox.
    ServiceSandbox();
    ~ServiceSandbox();

    bool start() { return m_service.start(); }
    void stop() { m_service.stop(); }
    bool running() { return m_service.process().state() == QProcess::Running; }

    // The kill-switch table is in place.
    bool blocking() const;
    // Tunnel devices the service made.
    QStringList devices() const;
    // "service.txt" as the service wrote it.
    QByteArray stateFile() const;
    // The kill-switch setting as saved in the settings file.
    bool storedKillSwitch() const;

    QString dataDir() const { return m_service.dataDir(); }
    QString configHome() const { return m_dir.filePath(QStringLiteral("config")); }
    void removeScripts() const;
    bool restoreScripts() const;

private:
    QTemporaryDir m_dir;
    ServiceInstance m_service;
};

// main() of a test that needs the service: SKIP (77) without root or
// namespaces; the test object gets the sandbox.
#define VARNEL_SERVICE_TEST_MAIN(TestObject, Application)                                                    \
    int main(int argc, char **argv)                                                                            \
    {                                                                                                          \
        if (const int skip = ServiceSandbox::enterNamespace())                                                 \
            return skip;                                                                                       \
        ServiceSandbox sandbox;                                                                                \
        Application app(argc, argv);                                                                           \
        TestObject test(sandbox);                                                                              \
        return QTest::qExec(&test, argc, argv);                                                                \
    }
