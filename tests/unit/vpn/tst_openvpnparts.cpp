#include "vpn/managementline.h"
#include "vpn/openvpnconfig.h"
#include "vpn/openvpnfilter.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using Varnel::ManagementLine;

// The pure pieces of the OpenVPN path: the configuration template and its
// filter, and the management lines.
class TestOpenVpnParts : public QObject
{
    Q_OBJECT
private slots:
    void configFromTemplate_data();
    void configFromTemplate();
    void configFilter_data();
    void configFilter();
    void filterReadsAsOpenVpnDoes_data();
    void filterReadsAsOpenVpnDoes();
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

void TestOpenVpnParts::configFilter_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<int>("line");          // 0: accepted
    QTest::addColumn<QString>("directive"); // what is named as refused

    const QByteArray profile = "client\r\ndev tun\r\nproto udp\r\nremote 10.0.0.1 1194\r\nnobind\r\n"
                               "persist-key\r\nremote-cert-tls server\r\nauth-user-pass\r\n"
                               "cipher AES-256-GCM\r\ncomp-lzo no\r\nkeepalive 10 60\r\nverb 3 # quiet\r\n"
                               "; a comment\r\n\r\nkey-direction 1\r\n<ca>\r\n-----BEGIN CERTIFICATE-----\r\n"
                               "plugin and up are only data here\r\n-----END CERTIFICATE-----\r\n</ca>\r\n"
                               "  <tls-auth>\r\n# 2048 bit OpenVPN static key\r\n0123abcd\r\n  </tls-auth>\r\n";
    QTest::newRow("a provider's profile") << profile << 0 << QString();
    QTest::newRow("byte-order mark, dashes, quotes") << QByteArray("\xEF\xBB\xBF--client\n\"remote\" 'h' 1\n")
                                                    << 0 << QString();

    const auto refused = [](const char *name, const QByteArray &config, int line, const char *directive) {
        QTest::newRow(name) << config << line << QString::fromLatin1(directive);
    };
    refused("plugin", "client\nplugin /tmp/evil.so\n", 2, "plugin");
    refused("status file", "client\nstatus /tmp/varnel-status\n", 2, "status");
    refused("log file", "log-append /root/x\n", 1, "log-append");
    refused("up script", "script-security 2\nup /bin/sh\n", 1, "script-security");
    for (const char *name : {"down", "route-up", "writepid", "cd", "chroot", "daemon", "management", "config",
                             "tmp-dir", "askpass", "iproute", "setenv", "engine", "dev-node", "secret"}) {
        QTest::addRow("%s", name) << QByteArray(name) + " x\n" << 1 << QString::fromLatin1(name);
    }
    refused("credentials from a file", "auth-user-pass /etc/passwd\n", 1, "auth-user-pass");
    refused("certificate from a file", "ca /etc/ssl/ca.pem\n", 1, "ca");
    refused("quoted directive", "\"plugin\" /x.so\n", 1, "plugin");
    refused("single-quoted directive", "'writepid' /x\n", 1, "writepid");
    refused("double dash", "--log /x\n", 1, "log");
    refused("setenv opt", "setenv opt plugin /x.so\n", 1, "setenv");
    refused("directive after an address with a line break", "remote 10.0.0.1\nplugin /x.so 1194\n", 2, "plugin");
    refused("connection block", "<connection>\nremote h 1\n</connection>\n", 1, "<connection>");
    refused("credentials block", "<auth-user-pass>\nu\np\n</auth-user-pass>\n", 1, "<auth-user-pass>");
    refused("block end found by its start", "<ca>\nx\n</ca> rest\nup /bin/sh\n", 4, "up");
    refused("block without end", "client\n<ca>\nplugin x\n", 2, "ca");
    refused("device path", "dev /dev/net/tun\n", 1, "dev");
    refused("device name running into the next line", "dev tun\\\nclient\n", 1, "dev");
    refused("long line", "remote " + QByteArray(250, 'a') + "plugin /x.so\n", 1, "");
    refused("control character", "remote h\x0b" "1\n", 1, "");
    refused("unterminated quote", "remote \"h 1\n", 1, "");
    refused("bad backslash", "remote h\\x\n", 1, "");
    refused("unknown directive", "client\nfrobnicate\n", 2, "frobnicate");
}

void TestOpenVpnParts::configFilter()
{
    QFETCH(QByteArray, config);
    QFETCH(int, line);
    QFETCH(QString, directive);
    const Varnel::OpenVpnConfigVerdict verdict = Varnel::checkOpenVpnConfig(config);
    QCOMPARE(verdict.accepted, line == 0);
    QCOMPARE(verdict.line, line);
    QCOMPARE(verdict.directive, directive);
}

// The filter's reading of the file against OpenVPN's own: in each text the
// only directive OpenVPN does not know is "frobnicate", after some tricky
// structure (or a line it cannot read); both must stop on the same line.
void TestOpenVpnParts::filterReadsAsOpenVpnDoes_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::newRow("block closed by a line starting with its end tag")
        << QByteArray("<ca>\nfrobnicate\n</ca> trailing\nfrobnicate\n");
    QTest::newRow("block opened before a comment") << QByteArray("<ca> # x\nfrobnicate\n</ca>\nfrobnicate\n");
    QTest::newRow("indented end tag") << QByteArray("<ca>\nfrobnicate\n   </ca>\nfrobnicate\n");
    QTest::newRow("quoted start tag") << QByteArray("\"<ca>\"\nfrobnicate\n</ca>\nfrobnicate\n");
    QTest::newRow("comment after arguments") << QByteArray("verb 3 # frobnicate\n; frobnicate\nfrobnicate\n");
    QTest::newRow("double dash") << QByteArray("--verb 3\n--frobnicate\n");
    QTest::newRow("quoted and escaped")
        << QByteArray("\"verb\" '3'\nverify-x509-name \"CN=a \\\"b\\\" \\\\c\" name\n'frobnicate'\n");
    QTest::newRow("carriage returns") << QByteArray("verb 3\r\n\tfrobnicate\r\n");
    QTest::newRow("comment sign after a backslash") << QByteArray("<ca> \\;x\nfrobnicate\n</ca>\nfrobnicate\n");
    QTest::newRow("blank after a backslash") << QByteArray("<ca>\r\\ ;x\nfrobnicate\n</ca>\nfrobnicate\n");
    QTest::newRow("escaped blank before a start tag") << QByteArray("\\ <ca> \r#x\nfrobnicate\n</ca>\nfrobnicate\n");
    QTest::newRow("backslash at the very end") << QByteArray("verb 3\nfrobnicate\\");
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF<ca>\nfrobnicate\n</ca>\nfrobnicate\n");
    QTest::newRow("backslash before the line feed") << QByteArray("<ca> x\\\nfrobnicate\n</ca>\nfrobnicate\n");
}

void TestOpenVpnParts::filterReadsAsOpenVpnDoes()
{
    QFETCH(QByteArray, config);
    if (!QFileInfo::exists(QStringLiteral("/usr/sbin/openvpn")))
        QSKIP("needs Debian's openvpn");
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("probe.conf")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(config);
    file.close();
    // It stops at the unknown directive, before it does anything at all.
    QProcess openvpn;
    openvpn.setProcessChannelMode(QProcess::MergedChannels);
    openvpn.start(QStringLiteral("/usr/sbin/openvpn"), {QStringLiteral("--config"), file.fileName()});
    QVERIFY(openvpn.waitForFinished(10000));
    const QString output = QString::fromLocal8Bit(openvpn.readAll());
    // An unknown directive is named; a line it cannot read is not.
    const QRegularExpressionMatch seen =
        QRegularExpression(QStringLiteral("Options error: .* in .*probe\\.conf:(\\d+)(: (\\S+))?")).match(output);
    QVERIFY2(seen.hasMatch(), qPrintable(output));
    const Varnel::OpenVpnConfigVerdict verdict = Varnel::checkOpenVpnConfig(config);
    QCOMPARE(verdict.line, seen.captured(1).toInt());
    QCOMPARE(verdict.directive, seen.captured(3));
}

void TestOpenVpnParts::managementLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("kind");
    QTest::addColumn<qint64>("down");
    QTest::addColumn<qint64>("up");

    const auto row = [](const char *name, const char *line, ManagementLine::Kind kind, qint64 down = 0,
                        qint64 up = 0) { QTest::newRow(name) << QString::fromLatin1(line) << int(kind) << down << up; };
    row("password request", ">PASSWORD:Need 'Auth' username/password", ManagementLine::PasswordRequest);
    row("other password request", ">PASSWORD:Need 'Private Key' password", ManagementLine::Other);
    row("verification failed", ">PASSWORD:Verification Failed: 'Auth'", ManagementLine::VerificationFailed);
    row("connected", ">STATE:1700000000,CONNECTED,SUCCESS,10.8.0.2,10.0.0.1,1194,,", ManagementLine::StateConnected);
    row("connecting", ">STATE:1700000000,CONNECTING,,,,,,", ManagementLine::StateConnecting);
    row("reconnecting", ">STATE:1700000000,RECONNECTING,ping-restart,,,,,", ManagementLine::StateConnecting);
    row("wait state", ">STATE:1700000000,WAIT,,,,,,", ManagementLine::Other);
    row("connected with an error", ">STATE:1700000000,CONNECTED,ERROR,10.8.0.2,,,,", ManagementLine::Other);
    row("byte count", ">BYTECOUNT:1024,2048", ManagementLine::ByteCount, 1024, 2048);
    row("byte count beyond 32 bits", ">BYTECOUNT:5000000000,7", ManagementLine::ByteCount, 5000000000, 7);
    row("byte count with three numbers", ">BYTECOUNT:1,2,3", ManagementLine::Other);
    row("byte count with one number", ">BYTECOUNT:1", ManagementLine::Other);
    row("byte count with a second colon", ">BYTECOUNT:1:2,3", ManagementLine::Other);
    row("non-numeric counts as 0", ">BYTECOUNT:x,5", ManagementLine::ByteCount, 0, 5);
    row("negative counts as 0", ">BYTECOUNT:-5,7", ManagementLine::ByteCount, 0, 7);
    row("beyond 63 bits counts as 0", ">BYTECOUNT:9,9223372036854775808", ManagementLine::ByteCount, 9, 0);
    row("state reply without prefix", "1700000000,CONNECTED,SUCCESS,10.8.0.2,,,,", ManagementLine::Other);
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
