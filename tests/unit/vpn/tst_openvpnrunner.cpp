#include "vpn/openvpnrunner.h"
#include "logwatch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <sys/stat.h>

using Varnel::OpenVpnRunner;

// The runner against a stand-in OpenVPN program (fakeopenvpn.cpp) that
// records what it is given and plays the management side from a script.
class TestOpenVpnRunner : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void dialogue();
    void rogueClientFirst();
    void controlCharactersNeverSent_data();
    void controlCharactersNeverSent();
    void failureReasons_data();
    void failureReasons();

private:
    // Starts a runner whose program plays steps; the runner is owned by the test.
    OpenVpnRunner *startRunner(const QStringList &steps, const QString &username = QStringLiteral("user"),
                               const QString &password = QStringLiteral("pass"));
    QStringList records(const QString &prefix) const;
    static int mode(const QString &path);

    std::unique_ptr<QTemporaryDir> m_dir;
    QList<QPointer<OpenVpnRunner>> m_runners;
    QString m_record;
};

void TestOpenVpnRunner::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_record = m_dir->filePath(QStringLiteral("record"));
    qputenv("VARNELVPN_OPENVPN", FAKE_OPENVPN);
    qputenv("FAKE_OPENVPN_RECORD", m_record.toLocal8Bit());
}

void TestOpenVpnRunner::cleanup()
{
    // A failed test leaves its runner behind: end its program, remove its files.
    for (const QPointer<OpenVpnRunner> &runner : qAsConst(m_runners))
        delete runner.data();
    m_runners.clear();
    qunsetenv("FAKE_OPENVPN_STEPS");
    m_dir.reset();
}

OpenVpnRunner *TestOpenVpnRunner::startRunner(const QStringList &steps, const QString &username,
                                              const QString &password)
{
    qputenv("FAKE_OPENVPN_STEPS", steps.join(QLatin1Char('\n')).toLocal8Bit());
    auto *runner = new OpenVpnRunner;
    runner->setDevice(QStringLiteral("vvpn3"));
    m_runners << runner;
    runner->connect(QStringLiteral("client\nremote 10.0.0.1 1194\n"), username, password);
    return runner;
}

QStringList TestOpenVpnRunner::records(const QString &prefix) const
{
    QFile file(m_record);
    QStringList found;
    if (!file.open(QIODevice::ReadOnly))
        return found;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QString text = QString::fromUtf8(line);
        if (text.startsWith(prefix + QLatin1Char(' ')))
            found << text.mid(prefix.size() + 1);
    }
    return found;
}

int TestOpenVpnRunner::mode(const QString &path)
{
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 07777) : -1;
}

void TestOpenVpnRunner::dialogue()
{
    QPointer<OpenVpnRunner> runner = startRunner(
        {QStringLiteral("connect"), QStringLiteral("expect hold release"),
         QStringLiteral(">PASSWORD:Need 'Auth' username/password").prepend(QStringLiteral("send ")),
         QStringLiteral("expect password Auth \"p\\\"w \\\\d\""), QStringLiteral("send >STATE:1,CONNECTING,,,,,,"),
         QStringLiteral("say PUSH: Received control message: 'PUSH_REPLY,redirect-gateway def1,push-continuation 2'"),
         QStringLiteral("say PUSH: Received control message: 'PUSH_REPLY,dhcp-option DNS 10.8.0.1'"),
         QStringLiteral("send >STATE:2,WAIT,,,,,,"),
         QStringLiteral("send >STATE:3,CONNECTED,SUCCESS,10.8.0.2,10.0.0.1,1194,,"),
         QStringLiteral("send >BYTECOUNT:1024,2048"), QStringLiteral("wait-close")},
        QStringLiteral("us\"er"), QStringLiteral("p\"w \\d"));
    QSignalSpy connecting(runner.data(), &OpenVpnRunner::connecting);
    QSignalSpy connected(runner.data(), &OpenVpnRunner::connected);
    QSignalSpy transfer(runner.data(), &OpenVpnRunner::transfer);
    QSignalSpy disconnected(runner.data(), &OpenVpnRunner::disconnected);

    // The configuration reaches OpenVPN through its input: no file that
    // anyone could replace before OpenVPN reads it. The management socket's
    // folder is private. OpenVPN opens the service's device and hands what
    // the server pushed to the tunnel script, which reaches the service.
    QVERIFY(!runner->findChild<QTemporaryFile *>());
    const QString socketPath = runner->findChild<QLocalServer *>()->fullServerName();
    QCOMPARE(mode(QFileInfo(socketPath).path()), 0700);
    QCOMPARE(QDir(QFileInfo(socketPath).path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System),
             QStringList {QStringLiteral("management")});

    QTRY_COMPARE(connected.count(), 1);
    QTRY_COMPARE(transfer.count(), 1);
    QCOMPARE(transfer.at(0).at(0).toLongLong(), 1024);
    QCOMPARE(transfer.at(0).at(1).toLongLong(), 2048);
    // The CONNECTING state line; the WAIT line emits nothing.
    QCOMPARE(connecting.count(), 1);
    QCOMPARE(records(QStringLiteral("arg")),
             QStringList({"--config", "stdin", "--verb", "3", "--management", socketPath, "unix",
                          "--management-client", "--management-query-passwords", "--management-hold",
                          "--suppress-timestamps", "--dev", "vvpn3", "--dev-type", "tun", "--disable-dco",
                          "--ifconfig-noexec", "--route-noexec", "--script-security", "2", "--up",
                          qEnvironmentVariable("VARNELVPN_TUNNEL_SCRIPT"), "--up-restart", "--setenv",
                          "VARNELVPN_SERVICE_SOCKET", qEnvironmentVariable("VARNELVPN_SERVICE_SOCKET"), "--setenv",
                          "VARNELVPN_PUSHED_OPTIONS", QFileInfo(socketPath).path() + "/pushed"}));
    // What the server pushed, both parts of it, for the tunnel script.
    QFile pushed(QFileInfo(socketPath).path() + "/pushed");
    QTRY_VERIFY(pushed.exists());
    QVERIFY(pushed.open(QIODevice::ReadOnly));
    QCOMPARE(pushed.readAll(), "PUSH_REPLY,redirect-gateway def1,push-continuation 2,PUSH_REPLY,dhcp-option DNS 10.8.0.1,");
    QCOMPARE(records(QStringLiteral("config")), QStringList({"client", "remote 10.0.0.1 1194", ""}));
    QCOMPARE(records(QStringLiteral("got")),
             QStringList({"state on", "state", "bytecount 1", "hold release", "username Auth \"us\\\"er\"",
                          "password Auth \"p\\\"w \\\\d\""}));

    // Only one management client: the listener is gone.
    QLocalSocket late;
    late.connectToServer(socketPath);
    QVERIFY(!late.waitForConnected(1000));

    runner->stop();
    QCOMPARE(disconnected.count(), 1);
    // The program quits when it loses the management connection; the runner follows.
    QTRY_VERIFY(runner.isNull());
    QCOMPARE(disconnected.count(), 1);
}

void TestOpenVpnRunner::rogueClientFirst()
{
    const QString go = m_dir->filePath(QStringLiteral("go"));
    QPointer<OpenVpnRunner> runner = startRunner({QStringLiteral("go ") + go, QStringLiteral("connect"),
                                                  QStringLiteral("expect hold release"),
                                                  QStringLiteral("send >STATE:1,CONNECTED,SUCCESS,,,,,"),
                                                  QStringLiteral("wait-close")});
    QSignalSpy connected(runner.data(), &OpenVpnRunner::connected);
    const Varnel::LogWatch log;

    // Another local program reaches the socket before OpenVPN does.
    QLocalSocket rogue;
    rogue.connectToServer(runner->findChild<QLocalServer *>()->fullServerName());
    QVERIFY(rogue.waitForConnected(3000));
    QTRY_COMPARE(rogue.state(), QLocalSocket::UnconnectedState);
    QCOMPARE(rogue.readAll(), QByteArray());
    QVERIFY(log.contains(QStringLiteral("OpenVPN: refused a management connection from process %1")
                             .arg(QCoreApplication::applicationPid())));

    // OpenVPN itself still gets through.
    QFile goFile(go);
    QVERIFY(goFile.open(QIODevice::WriteOnly));
    goFile.close();
    QTRY_COMPARE(connected.count(), 1);
    QCOMPARE(records(QStringLiteral("got")).value(3), QStringLiteral("hold release"));

    runner->stop();
    QTRY_VERIFY(runner.isNull());
}

// Why a session ended on its own, as the runner tells the controller.
void TestOpenVpnRunner::failureReasons_data()
{
    using Varnel::TunnelFailure;
    QTest::addColumn<QString>("config");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("failure");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<bool>("started");

    const QString client = QStringLiteral("client\nremote 10.0.0.1 1194\n");
    const QStringList upThen = {QStringLiteral("connect"), QStringLiteral("expect hold release"),
                                QStringLiteral("say TUN/TAP device tun7 opened"),
                                QStringLiteral("send >STATE:1,CONNECTED,SUCCESS,,,,,")};
    QTest::newRow("configuration refused: nothing written or started")
        << client + QStringLiteral("status /tmp/status\n") << QStringList() << int(TunnelFailure::ConfigurationRefused)
        << "status" << false;
    QTest::newRow("credentials refused by the server")
        << client << QStringList{"connect", "expect hold release", "send >PASSWORD:Verification Failed: 'Auth'",
                                 "wait-close"}
        << int(TunnelFailure::CredentialsRejected) << "" << true;
    QTest::newRow("no tunnel device")
        << client << QStringList{"connect", "expect hold release",
                                 "say ERROR: Cannot ioctl TUNSETIFF tun: Operation not permitted (errno=1)", "exit 1"}
        << int(TunnelFailure::TunnelDevice) << "ERROR: Cannot ioctl TUNSETIFF tun: Operation not permitted (errno=1)"
        << true;
    QTest::newRow("gone before it connected")
        << client << QStringList{"connect", "say Options error: something", "exit 1"}
        << int(TunnelFailure::ServerUnreachable) << "Options error: something" << true;
    QTest::newRow("gone after it connected") << client << upThen + QStringList{"exit 1"}
                                             << int(TunnelFailure::ConnectionLost) << "" << true;
    QTest::newRow("stopped: no failure") << client << upThen + QStringList{"wait-close"} << int(TunnelFailure::None)
                                         << "" << true;
}

void TestOpenVpnRunner::failureReasons()
{
    QFETCH(QString, config);
    QFETCH(QStringList, steps);
    QFETCH(int, failure);
    QFETCH(QString, detail);
    QFETCH(bool, started);
    const QString temporary = m_dir->filePath(QStringLiteral("tmp"));
    QVERIFY(QDir().mkpath(temporary));
    qputenv("TMPDIR", QFile::encodeName(temporary));
    qputenv("FAKE_OPENVPN_STEPS", steps.join(QLatin1Char('\n')).toLocal8Bit());
    auto *runner = new OpenVpnRunner;
    QPointer<OpenVpnRunner> guard = runner;
    m_runners << runner;
    QSignalSpy connected(runner, &OpenVpnRunner::connected);
    // Read as the controller reads it: when the end is reported (the runner
    // goes soon after).
    int ends = 0;
    QPair<int, QString> reason;
    QObject::connect(runner, &OpenVpnRunner::disconnected, this, [&] {
        ++ends;
        reason = qMakePair(int(runner->failure()), runner->failureDetail());
    });
    const bool running = runner->connect(config, QStringLiteral("user"), QStringLiteral("pass"));
    qunsetenv("TMPDIR");
    QCOMPARE(running, started);
    if (failure == int(Varnel::TunnelFailure::None)) {
        QTRY_COMPARE(connected.count(), 1);
        QCOMPARE(runner->deviceName(), QStringLiteral("tun7"));
        runner->stop();
    }
    QTRY_COMPARE(ends, 1);
    QCOMPARE(reason, qMakePair(failure, detail));
    QCOMPARE(QFileInfo::exists(m_record), started);
    if (!started)
        QCOMPARE(QDir(temporary).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    QTRY_VERIFY(guard.isNull());
}

void TestOpenVpnRunner::controlCharactersNeverSent_data()
{
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::newRow("line feed in the password") << "user" << "pass\nsignal SIGTERM";
    QTest::newRow("tab in the user name") << "us\ter" << "pass";
}

void TestOpenVpnRunner::controlCharactersNeverSent()
{
    QFETCH(QString, username);
    QFETCH(QString, password);
    auto *runner = new OpenVpnRunner;
    QPointer<OpenVpnRunner> guard = runner;
    m_runners << runner;
    QSignalSpy connecting(runner, &OpenVpnRunner::connecting);
    QSignalSpy disconnected(runner, &OpenVpnRunner::disconnected);

    QVERIFY(!runner->connect(QStringLiteral("client\n"), username, password));
    QCOMPARE(connecting.count(), 1);
    QCOMPARE(disconnected.count(), 1);
    QCOMPARE(runner->errorText(), QStringLiteral("Server connection error. Try another server."));
    // OpenVPN was never started, so nothing could reach it.
    QVERIFY(!QFileInfo::exists(m_record));
    QTRY_VERIFY(guard.isNull());
}

QTEST_GUILESS_MAIN(TestOpenVpnRunner)
#include "tst_openvpnrunner.moc"
