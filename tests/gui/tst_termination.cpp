// The program as a desktop session sees it: a logged-in user with
// auto-connect on is connected at start without a click, and the ways the
// desktop ends it bring the tunnel down first.
// The backend is the reference backend on loopback (one OpenVPN server on
// loopback), beside the real service; OpenVPN is the stand-in program, so no
// tunnel carries anything.
#include "integration/backend/backendtest.h"
#include "servicesandbox.h"

#include "app/singleinstance.h"
#include "common/config.h"

#include <QtTest>

#include <csignal>

using namespace Varnel;

class TestTermination : public QObject
{
    Q_OBJECT

    ServiceSandbox m_service;
    ClientSandbox m_sandbox;
    RefBackendProcess m_backend;
    QTemporaryDir m_files;

    QString file(const char *name) const { return m_files.filePath(QLatin1String(name)); }

    // What a user who logged in and turned auto-connect on leaves behind.
    void storeLoggedInUser()
    {
        ClientSandbox::storeEndpoints(ClientSandbox::endpointsAt(m_backend.baseUrl()));
        const auto config = Config::instance();
        config->setServerHash(QStringLiteral("premium.user"));
        config->setConnectionHash(QStringLiteral("premium-pass"));
        config->setAutoLogin(true);
        config->setAutoConnect(true);
        config->save();
    }

    bool storedConnectionState() const { return m_sandbox.stored(QStringLiteral("ConnectionState")).toBool(); }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_backend.start({QStringLiteral("--data"), QStringLiteral(TERMINATION_DATA)}),
                 qPrintable(m_backend.errorText()));
    }
    void init()
    {
        QVERIFY(m_backend.reset());
        m_sandbox.enter(m_backend.baseUrl(), m_backend.caFile());
        QFile::remove(file("client.log"));
    }
    void cleanup() { m_sandbox.leave(); }

    // SIGTERM, SIGINT and the desktop entry's "Quit" (a second start with
    // --quit) end the program with exit code 0, with the tunnel down first:
    // the signals at once, the Quit action as the tray's Quit does (after
    // the next Disconnected while connected; here OpenVPN drops the tunnel
    // when told to).
    void ends_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("connected");
        QTest::newRow("connected, SIGTERM") << "SIGTERM" << true;
        QTest::newRow("connected, SIGINT") << "SIGINT" << true;
        QTest::newRow("connected, Quit: after the tunnel is down") << "--quit" << true;
        QTest::newRow("logged out, Quit: at once") << "--quit" << false;
    }
    void ends()
    {
        QFETCH(QString, how);
        QFETCH(bool, connected);
        if (connected)
            storeLoggedInUser();
        const QString drop = file("drop");
        QFile::remove(drop);
        // The stand-in OpenVPN connects, then stays until the client closes
        // the tunnel, or (for Quit) until the test drops it.
        QProcessEnvironment env = m_sandbox.clientEnvironment(m_files.path());
        env.insert(QStringLiteral("VARNELVPN_OPENVPN"), QStringLiteral(FAKE_OPENVPN));
        env.insert(QStringLiteral("FAKE_OPENVPN_RECORD"), file("openvpn.txt"));
        env.insert(QStringLiteral("FAKE_OPENVPN_STEPS"),
                   QStringLiteral("connect\nexpect hold release\nsend >STATE:1,CONNECTED,SUCCESS,,,,,\n")
                       + (how == "--quit" ? QStringLiteral("go %1\nexit 0").arg(drop) : QStringLiteral("wait-close")));
        env.insert(QStringLiteral("QT_LOGGING_RULES"),
                   QStringLiteral("qt.text.font.match.debug=true\nvarnel.startup.info=true"));
        QProcess client;
        m_sandbox.startClient(client, QStringLiteral(VARNELVPN_EXECUTABLE), env, m_files.path());
        QVERIFY(client.waitForStarted(10000));
        if (connected) {
            // Logged in and connected without a click.
            QTRY_VERIFY_WITH_TIMEOUT(storedConnectionState(), 20000);
        } else {
            // The login page: the instance answers from its event loop, so start-up is complete.
            QVERIFY(sendInstanceMessage(SingleInstance::socketPath(file("runtime")), QStringLiteral("Wake up!"), 10000));
        }
        QCOMPARE(m_backend.count(QStringLiteral("/api/login.php")), connected ? 1 : 0);

        QElapsedTimer clock;
        if (how == "--quit") {
            // Asked twice while connected: still one end, after the tunnel.
            for (int asked = connected ? 2 : 1; asked > 0; --asked) {
                QProcess quit;
                quit.setProcessEnvironment(env);
                quit.start(QStringLiteral(VARNELVPN_EXECUTABLE), {how});
                QVERIFY(quit.waitForFinished(10000));
                QCOMPARE(quit.exitCode(), 0);
            }
            clock.start();
            if (connected) {
                QVERIFY(!client.waitForFinished(1500));
                QVERIFY(QFile(drop).open(QIODevice::WriteOnly));
            }
        } else {
            clock.start();
            ::kill(pid_t(client.processId()), how == "SIGINT" ? SIGINT : SIGTERM);
        }
        QVERIFY(client.waitForFinished(10000));
        QCOMPARE(client.exitStatus(), QProcess::NormalExit);
        QCOMPARE(client.exitCode(), 0);
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        // The tunnel went down before the end, and the settings were saved.
        QVERIFY(!storedConnectionState());
        QVERIFY(m_service.devices().isEmpty());
        QFile log(file("client.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        checkStartupLog(QString::fromUtf8(log.readAll()));
    }

private:
    // Every Montserrat face the window asks for is found: the fonts are
    // registered before the first widget looks one up (a face looked up
    // before stays the fallback for good); and the first paint is timed
    // from the start.
    void checkStartupLog(const QString &log)
    {
        QStringList asked, unmatched;
        QString family;
        double painted = -1;
        for (const QString &line : log.split(QLatin1Char('\n'))) {
            const int at = line.indexOf(QLatin1String("family: "));
            if (at >= 0) {
                family = line.mid(at + 8).section(QLatin1String(" ["), 0, 0);
                asked << family;
            } else if (line.contains(QLatin1String("NO MATCH FOUND"))) {
                unmatched << family;
            } else if (line.contains(QLatin1String("painted "))) {
                painted = line.section(QLatin1Char(' '), -1).toDouble();
            }
        }
        QVERIFY2(!asked.filter(QStringLiteral("Montserrat")).isEmpty(), "no font lookup logged");
        QCOMPARE(unmatched.filter(QStringLiteral("Montserrat")), QStringList());
        QVERIFY2(painted > 0 && painted < 60000, qPrintable(QString::number(painted)));
    }
};

int main(int argc, char **argv)
{
    if (const int skip = ServiceSandbox::enterNamespace())
        return skip;
    QCoreApplication app(argc, argv);
    TestTermination test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_termination.moc"
