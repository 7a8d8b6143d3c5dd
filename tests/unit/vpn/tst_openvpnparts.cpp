#include "vpn/managementline.h"
#include "vpn/openvpnconfig.h"

#include <QtTest>

using Varnel::ManagementLine;

// The pure pieces of the OpenVPN path: the configuration template and the
// management lines.
class TestOpenVpnParts : public QObject
{
    Q_OBJECT
private slots:
    void configFromTemplate_data();
    void configFromTemplate();
    void managementLine_data();
    void managementLine();
    void quoting_data();
    void quoting();
    void sendableCredential_data();
    void sendableCredential();
};

void TestOpenVpnParts::configFromTemplate_data()
{
    QTest::addColumn<QByteArray>("templateBytes");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("expected");

    QTest::newRow("host and port") << QByteArray("remote remoteIP remotePort\nverb 3\n") << "10.0.0.1:1194"
                                   << "remote 10.0.0.1 1194\nverb 3\n";
    QTest::newRow("only the first remoteIP") << QByteArray("remote remoteIP 1\nremote remoteIP 2\n") << "h:5"
                                             << "remote h 1\nremote remoteIP 2\n";
    QTest::newRow("no port placeholder") << QByteArray("remote remoteIP 443\n") << "h:5" << "remote h 443\n";
    QTest::newRow("no port in the address") << QByteArray("remote remoteIP remotePort\n") << "h"
                                            << "remote h \n";
    QTest::newRow("server address too") << QByteArray("remote remoteIP remotePort\nroute remoteServerIP\n")
                                        << "h:5" << "remote h 5\nroute h\n";
    QTest::newRow("placeholders are case-sensitive") << QByteArray("remote REMOTEIP remoteport\n") << "h:5"
                                                     << "remote REMOTEIP remoteport\n";
    QTest::newRow("ends at the first zero byte") << QByteArray("remote remoteIP\0garbage", 23) << "h:5"
                                                 << "remote h";
    QTest::newRow("Latin-1 bytes") << QByteArray("# caf\xe9\nremote remoteIP\n") << "h"
                                   << QStringLiteral("# caf\u00e9\nremote h\n");
}

void TestOpenVpnParts::configFromTemplate()
{
    QFETCH(QByteArray, templateBytes);
    QFETCH(QString, address);
    QFETCH(QString, expected);
    QCOMPARE(Varnel::openVpnConfigFromTemplate(QString::fromLatin1(templateBytes.toBase64()), address), expected);
}

void TestOpenVpnParts::managementLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("kind");
    QTest::addColumn<qint64>("down");
    QTest::addColumn<qint64>("up");

    QTest::newRow("password request") << ">PASSWORD:Need 'Auth' username/password" << int(ManagementLine::PasswordRequest)
                                      << qint64(0) << qint64(0);
    QTest::newRow("other password request") << ">PASSWORD:Need 'Private Key' password" << int(ManagementLine::Other)
                                            << qint64(0) << qint64(0);
    QTest::newRow("verification failed") << ">PASSWORD:Verification Failed: 'Auth'"
                                         << int(ManagementLine::VerificationFailed) << qint64(0) << qint64(0);
    QTest::newRow("connected") << ">STATE:1700000000,CONNECTED,SUCCESS,10.8.0.2,10.0.0.1,1194,,"
                               << int(ManagementLine::StateConnected) << qint64(0) << qint64(0);
    QTest::newRow("connecting") << ">STATE:1700000000,CONNECTING,,,,,,"
                                << int(ManagementLine::StateConnecting) << qint64(0) << qint64(0);
    QTest::newRow("reconnecting") << ">STATE:1700000000,RECONNECTING,ping-restart,,,,,"
                                  << int(ManagementLine::StateConnecting) << qint64(0) << qint64(0);
    QTest::newRow("wait state") << ">STATE:1700000000,WAIT,,,,,," << int(ManagementLine::Other) << qint64(0)
                                << qint64(0);
    QTest::newRow("auth state") << ">STATE:1700000000,AUTH,,,,,," << int(ManagementLine::Other) << qint64(0)
                                << qint64(0);
    QTest::newRow("connected with an error") << ">STATE:1700000000,CONNECTED,ERROR,10.8.0.2,,,,"
                                             << int(ManagementLine::Other) << qint64(0) << qint64(0);
    QTest::newRow("byte count") << ">BYTECOUNT:1024,2048" << int(ManagementLine::ByteCount) << qint64(1024)
                                << qint64(2048);
    QTest::newRow("byte count beyond 32 bits") << ">BYTECOUNT:5000000000,7" << int(ManagementLine::ByteCount)
                                               << qint64(5000000000) << qint64(7);
    QTest::newRow("byte count with three numbers") << ">BYTECOUNT:1,2,3" << int(ManagementLine::Other) << qint64(0)
                                                   << qint64(0);
    QTest::newRow("byte count with one number") << ">BYTECOUNT:1" << int(ManagementLine::Other) << qint64(0)
                                                << qint64(0);
    QTest::newRow("byte count with a second colon") << ">BYTECOUNT:1:2,3" << int(ManagementLine::Other)
                                                    << qint64(0) << qint64(0);
    QTest::newRow("non-numeric counts as 0") << ">BYTECOUNT:x,5" << int(ManagementLine::ByteCount) << qint64(0)
                                             << qint64(5);
    QTest::newRow("command reply") << "SUCCESS: hold release succeeded" << int(ManagementLine::Other) << qint64(0)
                                   << qint64(0);
    QTest::newRow("state reply without prefix") << "1700000000,CONNECTED,SUCCESS,10.8.0.2,,,,"
                                                << int(ManagementLine::Other) << qint64(0) << qint64(0);
}

void TestOpenVpnParts::managementLine()
{
    QFETCH(QString, line);
    QFETCH(int, kind);
    QFETCH(qint64, down);
    QFETCH(qint64, up);
    const ManagementLine parsed = ManagementLine::parse(line);
    QCOMPARE(int(parsed.kind), kind);
    QCOMPARE(parsed.down, down);
    QCOMPARE(parsed.up, up);
}

void TestOpenVpnParts::quoting_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("quoted");
    QTest::newRow("plain") << "user" << "\"user\"";
    QTest::newRow("empty") << "" << "\"\"";
    QTest::newRow("blank") << "a b" << "\"a b\"";
    QTest::newRow("quote") << "a\"b" << "\"a\\\"b\"";
    QTest::newRow("backslash") << "a\\b" << "\"a\\\\b\"";
    // Each character is escaped once: the backslash added for the quote is
    // not escaped again.
    QTest::newRow("backslash then quote") << "\\\"" << "\"\\\\\\\"\"";
}

void TestOpenVpnParts::quoting()
{
    QFETCH(QString, value);
    QFETCH(QString, quoted);
    QCOMPARE(Varnel::quoteManagementArgument(value), quoted);
}

void TestOpenVpnParts::sendableCredential_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("sendable");
    QTest::newRow("printable") << "Lab pass \"7\\x" << true;
    QTest::newRow("empty") << "" << true;
    QTest::newRow("non-ASCII letters") << QStringLiteral("Stra\u00dfe\u4e2d") << true;
    QTest::newRow("line feed") << "pass\nsignal SIGTERM" << false;
    QTest::newRow("carriage return") << "pass\r" << false;
    QTest::newRow("tab") << "pa\tss" << false;
    QTest::newRow("zero") << QString(QChar(0)) << false;
    QTest::newRow("delete") << "pass\x7f" << false;
}

void TestOpenVpnParts::sendableCredential()
{
    QFETCH(QString, value);
    QFETCH(bool, sendable);
    QCOMPARE(Varnel::isSendableCredential(value), sendable);
}

QTEST_APPLESS_MAIN(TestOpenVpnParts)
#include "tst_openvpnparts.moc"
