#include "common/logger.h"
#include "common/serviceprotocol.h"
#include "vpn/authform.h"
#include "vpn/managementline.h"
#include "vpn/openconnectserver.h"
#include "vpn/openvpnconfig.h"
#include "vpn/openvpnfilter.h"
#include "vpn/peerpin.h"
#include "vpn/tunnelinfo.h"
#include "logwatch.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <openconnect.h>

#include <cstdarg>
#include <cstdlib>
#include <ctime>
#include <deque>

using namespace Varnel;

namespace {

// A login form as the OpenConnect library hands it over, written as
// "kind:name" words (t text, p password, s select, h hidden, i ignored
// text) and "g:a,b" for the group list. It owns the values the filler sets
// (the library frees them in a real session).
class Form
{
public:
    explicit Form(const QString &layout)
    {
        for (const QString &word : layout.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QByteArray name = word.mid(2).toUtf8();
            switch (word.at(0).toLatin1()) {
            case 'g': groups(name.split(',')); break;
            case 't': field(OC_FORM_OPT_TEXT, name); break;
            case 'p': field(OC_FORM_OPT_PASSWORD, name); break;
            case 's': field(OC_FORM_OPT_SELECT, name); break;
            case 'h': field(OC_FORM_OPT_HIDDEN, name); break;
            case 'i': field(OC_FORM_OPT_TEXT, name, OC_FORM_OPT_IGNORE); break;
            }
        }
    }
    ~Form()
    {
        for (oc_form_opt *option : m_options) {
            if (option->type == OC_FORM_OPT_TEXT || option->type == OC_FORM_OPT_PASSWORD)
                std::free(option->_value);
            delete option;
        }
    }

    oc_auth_form *get() { return &m_form; }

    QString value(const QByteArray &name) const
    {
        for (oc_form_opt *option = m_form.opts; option; option = option->next) {
            if (name == option->name)
                return QString::fromUtf8(option->_value);
        }
        return QStringLiteral("<no such field>");
    }

private:
    void field(int type, const QByteArray &name, unsigned flags = 0)
    {
        auto *option = new oc_form_opt {};
        option->type = type;
        m_names.push_back(name);
        option->name = m_names.back().data();
        option->flags = flags;
        oc_form_opt **end = &m_form.opts;
        while (*end)
            end = &(*end)->next;
        *end = option;
        m_options.push_back(option);
    }

    // Before the fields: the group list is also the form's first field.
    void groups(const QList<QByteArray> &names)
    {
        for (const QByteArray &name : names) {
            m_names.push_back(name);
            m_choices.push_back(oc_choice {});
            m_choices.back().name = m_names.back().data();
        }
        for (oc_choice &choice : m_choices)
            m_choicePointers.push_back(&choice);
        m_groups.form.type = OC_FORM_OPT_SELECT;
        m_groups.form.name = const_cast<char *>("group_list");
        m_groups.nr_choices = int(m_choicePointers.size());
        m_groups.choices = m_choicePointers.data();
        m_form.authgroup_opt = &m_groups;
        m_groups.form.next = m_form.opts;
        m_form.opts = &m_groups.form;
    }

    oc_auth_form m_form {};
    oc_form_opt_select m_groups {};
    std::deque<QByteArray> m_names;   // stable addresses for the C strings
    std::deque<oc_choice> m_choices;
    std::vector<oc_choice *> m_choicePointers;
    std::vector<oc_form_opt *> m_options;
};

// The server compares the bytes the user typed: UTF-8, as OpenVPN sends them.
const AuthFormInput kInput {QStringLiteral("jörg"), QStringLiteral("pässwörd€"), QString()};

// A self-signed certificate (DER) for key, with the given serial number.
QByteArray certificate(gnutls_x509_privkey_t key, unsigned char serial)
{
    gnutls_x509_crt_t crt;
    gnutls_x509_crt_init(&crt);
    gnutls_x509_crt_set_version(crt, 3);
    gnutls_x509_crt_set_serial(crt, &serial, 1);
    const time_t now = std::time(nullptr);
    gnutls_x509_crt_set_activation_time(crt, now - 60);
    gnutls_x509_crt_set_expiration_time(crt, now + 3600);
    const char cn[] = "vpn.example";
    gnutls_x509_crt_set_dn_by_oid(crt, GNUTLS_OID_X520_COMMON_NAME, 0, cn, sizeof cn - 1);
    gnutls_x509_crt_set_key(crt, key);
    QByteArray der;
    if (gnutls_x509_crt_sign2(crt, crt, key, GNUTLS_DIG_SHA256, 0) == 0) {
        gnutls_datum_t out {};
        if (gnutls_x509_crt_export2(crt, GNUTLS_X509_FMT_DER, &out) == 0) {
            der = QByteArray(reinterpret_cast<const char *>(out.data), int(out.size));
            gnutls_free(out.data);
        }
    }
    gnutls_x509_crt_deinit(crt);
    return der;
}

gnutls_x509_privkey_t newKey()
{
    gnutls_x509_privkey_t key;
    gnutls_x509_privkey_init(&key);
    gnutls_x509_privkey_generate(key, GNUTLS_PK_ECDSA, GNUTLS_CURVE_TO_BITS(GNUTLS_ECC_CURVE_SECP256R1), 0);
    return key;
}

QString progressText(const char *format, ...) __attribute__((format(printf, 1, 2)));
QString progressText(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const QString text = formatProgress(format, arguments);
    va_end(arguments);
    return text;
}

} // namespace

// The pure pieces of the engine: the OpenVPN configuration, its filter and
// the management lines; the OpenConnect form filler, key pins, tunnel facts
// and progress texts; the tunnel script's request to the service.
class TestVpnParts : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QCOMPARE(gnutls_global_init(), 0); }

    void configFromTemplate_data()
    {
        QTest::addColumn<QByteArray>("templateBytes");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("expected");
        QTest::newRow("host and port") << QByteArray("remote remoteIP remotePort\nverb 3\n") << "10.0.0.1:1194"
                                       << "remote 10.0.0.1 1194\nverb 3\n";
        QTest::newRow("only the first remoteIP") << QByteArray("remote remoteIP 1\nremote remoteIP 2\n") << "h:5"
                                                 << "remote h 1\nremote remoteIP 2\n";
        QTest::newRow("no port in the address") << QByteArray("remote remoteIP remotePort\n") << "h" << "remote h \n";
        QTest::newRow("server address too") << QByteArray("remote remoteIP remotePort\nroute remoteServerIP\n")
                                            << "h:5" << "remote h 5\nroute h\n";
        QTest::newRow("placeholders are case-sensitive") << QByteArray("remote REMOTEIP remoteport\n") << "h:5"
                                                         << "remote REMOTEIP remoteport\n";
        QTest::newRow("ends at the first zero byte") << QByteArray("remote remoteIP\0garbage", 23) << "h:5"
                                                     << "remote h";
        QTest::newRow("Latin-1 bytes") << QByteArray("# caf\xe9\nremote remoteIP\n") << "h"
                                       << QStringLiteral("# caf\u00e9\nremote h\n");
    }

    void configFromTemplate()
    {
        QFETCH(QByteArray, templateBytes);
        QFETCH(QString, address);
        QTEST(openVpnConfigFromTemplate(QString::fromLatin1(templateBytes.toBase64()), address), "expected");
    }

    void configFilter_data()
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
        refused("up script", "script-security 2\nup /bin/sh\n", 1, "script-security");
        for (const char *name : {"status", "log-append", "down", "route-up", "writepid", "cd", "chroot", "daemon",
                                 "management", "config", "tmp-dir", "askpass", "iproute", "setenv", "engine",
                                 "dev-node", "secret"}) {
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

    void configFilter()
    {
        QFETCH(QByteArray, config);
        QFETCH(int, line);
        const OpenVpnConfigVerdict verdict = checkOpenVpnConfig(config);
        QCOMPARE(verdict.accepted, line == 0);
        QCOMPARE(verdict.line, line);
        QTEST(verdict.directive, "directive");
    }

    // The filter's reading of the file against OpenVPN's own: in each text the
    // only directive OpenVPN does not know is "frobnicate", after some tricky
    // structure (or a line it cannot read); both must stop on the same line.
    void filterReadsAsOpenVpnDoes_data()
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

    void filterReadsAsOpenVpnDoes()
    {
        QFETCH(QByteArray, config);
        if (!QFileInfo::exists(QStringLiteral("/usr/sbin/openvpn")))
            QSKIP("needs Debian's openvpn");
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("probe.conf")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(config) == config.size());
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
        const OpenVpnConfigVerdict verdict = checkOpenVpnConfig(config);
        QCOMPARE(verdict.line, seen.captured(1).toInt());
        QCOMPARE(verdict.directive, seen.captured(3));
    }

    void managementLine_data()
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
        row("byte count beyond 32 bits", ">BYTECOUNT:5000000000,7", ManagementLine::ByteCount, 5000000000, 7);
        row("byte count with three numbers", ">BYTECOUNT:1,2,3", ManagementLine::Other);
        row("byte count with one number", ">BYTECOUNT:1", ManagementLine::Other);
        row("byte count with a second colon", ">BYTECOUNT:1:2,3", ManagementLine::Other);
        row("non-numeric counts as 0", ">BYTECOUNT:x,5", ManagementLine::ByteCount, 0, 5);
        row("negative counts as 0", ">BYTECOUNT:-5,7", ManagementLine::ByteCount, 0, 7);
        row("beyond 63 bits counts as 0", ">BYTECOUNT:9,9223372036854775808", ManagementLine::ByteCount, 9, 0);
        row("state reply without prefix", "1700000000,CONNECTED,SUCCESS,10.8.0.2,,,,", ManagementLine::Other);
    }

    void managementLine()
    {
        QFETCH(QString, line);
        const ManagementLine parsed = ManagementLine::parse(line);
        QTEST(int(parsed.kind), "kind");
        QTEST(parsed.down, "down");
        QTEST(parsed.up, "up");
    }

    // A credential goes to OpenVPN quoted, and only without control
    // characters (they would end the command and start another).
    void credential_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("quoted");   // empty: not sendable
        QTest::newRow("plain") << "user" << "\"user\"";
        QTest::newRow("empty") << "" << "\"\"";
        QTest::newRow("blank") << "a b" << "\"a b\"";
        QTest::newRow("non-ASCII letters") << QStringLiteral("Stra\u00dfe\u4e2d") << QStringLiteral("\"Stra\u00dfe\u4e2d\"");
        QTest::newRow("quote") << "a\"b" << "\"a\\\"b\"";
        QTest::newRow("backslash") << "a\\b" << "\"a\\\\b\"";
        // Each character is escaped once: the backslash added for the quote is
        // not escaped again.
        QTest::newRow("backslash then quote") << "\\\"" << "\"\\\\\\\"\"";
        QTest::newRow("line feed") << "pass\nsignal SIGTERM" << "";
        QTest::newRow("carriage return") << "pass\r" << "";
        QTest::newRow("tab") << "pa\tss" << "";
        QTest::newRow("zero") << QString(QChar(0)) << "";
        QTest::newRow("delete") << "pass\x7f" << "";
    }

    void credential()
    {
        QFETCH(QString, value);
        QFETCH(QString, quoted);
        QCOMPARE(isSendableCredential(value), !quoted.isEmpty());
        if (!quoted.isEmpty())
            QCOMPARE(quoteManagementArgument(value), quoted);
    }

    // Forms of one attempt, filled in turn with one state; the values are those
    // of the last form ("name=value").
    void fillsForms_data()
    {
        QTest::addColumn<QString>("group");
        QTest::addColumn<QStringList>("forms");
        QTest::addColumn<QList<int>>("results");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<bool>("rejected");
        const int ok = OC_FORM_RESULT_OK, cancelled = OC_FORM_RESULT_CANCELLED, newGroup = OC_FORM_RESULT_NEWGROUP;
        const QString user = QStringLiteral("username=") + kInput.username;
        const QString password = QStringLiteral("password=") + kInput.password;
        const auto row = [](const char *name, const QString &group, const QStringList &forms, const QList<int> &results,
                            const QStringList &values, bool rejected = false) {
            QTest::newRow(name) << group << forms << results << values << rejected;
        };
        row("single group: fetched first", "", {"t:username g:staff"}, {newGroup}, {"group_list=staff", "username="});
        row("single group: its form filled, the group set again", "",
            {"t:username g:staff", "t:username p:password g:staff"}, {newGroup, ok},
            {"group_list=staff", user, password});
        row("several groups, none wanted", "", {"t:username g:staff,guests"}, {cancelled}, {});
        row("several groups, wanted one not offered", "nobody-offers-this", {"t:username g:staff,guests"}, {cancelled},
            {});
        row("several groups, wanted one offered", "guests", {"t:username g:staff,guests"}, {newGroup},
            {"group_list=guests"});
        row("names without case", "", {"t:UserName p:PASSWORD"}, {ok},
            {"UserName=" + kInput.username, "PASSWORD=" + kInput.password});
        row("unknown field", "", {"t:email"}, {cancelled}, {});
        // A select that is not the group list cannot be answered.
        row("other select", "", {"s:realm t:username"}, {cancelled}, {});
        row("ignored field skipped, whatever it is", "", {"i:email t:username"}, {ok}, {"email=", user});
        // ocserv asks for the user name, then the password, and asks for the
        // password again when it was wrong: the second time is not answered.
        row("user name, then password", "", {"t:username", "p:password"}, {ok, ok}, {password});
        row("asked again: rejected", "", {"t:username", "p:password", "p:password", "t:username"},
            {ok, ok, cancelled, cancelled}, {}, true);
    }

    void fillsForms()
    {
        QFETCH(QString, group);
        QFETCH(QStringList, forms);
        QFETCH(QList<int>, results);
        QFETCH(QStringList, values);
        AuthFormInput input = kInput;
        input.groupName = group;
        AuthFormState state;
        QList<int> got;
        QStringList filled;
        for (const QString &layout : forms) {
            Form form(layout);
            got << fillAuthForm(form.get(), state, input);
            filled.clear();
            for (const QString &value : values) {
                const QString name = value.section(QLatin1Char('='), 0, 0);
                filled << name + QLatin1Char('=') + form.value(name.toUtf8());
            }
        }
        QCOMPARE(got, results);
        QCOMPARE(filled, values);
        QCOMPARE(state.authGroupChosen, results.contains(OC_FORM_RESULT_NEWGROUP));
        QTEST(state.rejected, "rejected");
    }

    void formsWithNothingToFill()
    {
        const LogWatch log;
        const auto fill = [](const char *layout) {
            AuthFormState state;
            Form form(QString::fromLatin1(layout));
            return fillAuthForm(form.get(), state, kInput);
        };
        // The count is process-wide: a filled form starts it afresh.
        QCOMPARE((QList<int>{fill("t:username"), fill("h:csrf"), fill("h:csrf"), fill("t:username"), fill("h:csrf")}),
                 (QList<int>{OC_FORM_RESULT_OK, OC_FORM_RESULT_OK, OC_FORM_RESULT_CANCELLED, OC_FORM_RESULT_OK,
                             OC_FORM_RESULT_OK}));
        QVERIFY(log.contains(QStringLiteral("unknown type 4")));
    }

    void keyPinnedPerGateway()
    {
        gnutls_x509_privkey_t keyA = newKey();
        gnutls_x509_privkey_t keyB = newKey();
        const QByteArray certA = certificate(keyA, 1);
        const QByteArray reissuedA = certificate(keyA, 2);
        const QByteArray certB = certificate(keyB, 3);
        gnutls_x509_privkey_deinit(keyA);
        gnutls_x509_privkey_deinit(keyB);
        QVERIFY(!certA.isEmpty() && !certB.isEmpty() && reissuedA != certA);

        OpenConnectServer server(QStringLiteral("vpn.example"));
        const auto check = [&server](const QByteArray &cert, const char *host = "vpn.example",
                                     const char *port = "443") {
            return checkPeerKey(cert, QString::fromLatin1(host), QString::fromLatin1(port), server);
        };
        LogWatch log;
        QCOMPARE(check(certA), PeerKey::Accepted);
        QCOMPARE(log.lines(), (QStringList{"peer is unknown", "saving peer's public key"}));
        const KeyPin pin = server.pin(QStringLiteral("vpn.example:443"));
        QCOMPARE(qMakePair(pin.algorithm, pin.hash.size()), qMakePair(int(GNUTLS_DIG_SHA1), 20));

        // Same key, even in a new certificate: accepted without a word.
        log.restart();
        QCOMPARE(check(certA), PeerKey::Accepted);
        QCOMPARE(check(reissuedA), PeerKey::Accepted);
        QCOMPARE(log.lines(), QStringList());
        // Another key for a pinned gateway: refused, and the pin stays.
        QCOMPARE(check(certB), PeerKey::Changed);
        QCOMPARE(log.lines(), QStringList{"peer's key has changed!"});
        QCOMPARE(server.pin(QStringLiteral("vpn.example:443")).hash, pin.hash);
        // Other gateways, another host or another port, have pins of their own.
        QCOMPARE((QList<PeerKey>{check(certB, "other.example"), check(certB, "vpn.example", "4443"),
                                 check(certA, "other.example"), check(certA)}),
                 (QList<PeerKey>{PeerKey::Accepted, PeerKey::Accepted, PeerKey::Changed, PeerKey::Accepted}));

        // What is not a certificate is refused and pins nothing.
        log.restart();
        QCOMPARE(check("not a certificate", "h"), PeerKey::Refused);
        QCOMPARE(log.lines().size(), 1);
        QVERIFY(log.lines().first().startsWith(QStringLiteral("Could not verify certificate: ")));
        QCOMPARE(server.pin(QStringLiteral("h:443")).algorithm, 0);
    }

    void tunnelFacts()
    {
        oc_ip_info full {};
        full.addr = "10.1.0.7";
        full.netmask = "255.255.255.0";
        full.addr6 = "fd00::7";
        full.netmask6 = "fd00::7/64";
        full.dns[0] = "10.1.0.1";
        full.dns[1] = "10.1.0.2";
        full.dns[2] = "10.1.0.3";
        oc_ip_info bare {};
        bare.addr = "10.1.0.8";
        bare.dns[0] = "10.1.0.1";
        TunnelInfo info, partial;
        info.readAddresses(full);
        partial.readAddresses(bare);
        QCOMPARE((QStringList{info.ipv4, info.ipv6, info.dns, partial.ipv4, partial.ipv6, partial.dns}),
                 (QStringList{"10.1.0.7/255.255.255.0", "fd00::7/fd00::7/64", "10.1.0.1, 10.1.0.2 10.1.0.3", "10.1.0.8",
                              QString(), "10.1.0.1"}));

        // Progress texts: bounded, without their final line break.
        const QByteArray long600(600, 'a');
        QCOMPARE(progressText("%s", long600.constData()), QString(511, QLatin1Char('a')));
        QCOMPARE(progressText("Connected to %s:%d\n", "10.0.0.1", 443), QStringLiteral("Connected to 10.0.0.1:443"));
        QCOMPARE(progressText("two\n\n"), QStringLiteral("two\n"));
    }

    // What the OpenConnect library learned of the tunnel becomes one
    // "configure" request; the same for OpenVPN's variables in the tunnel
    // script (below).
    void configureRequest_data()
    {
        QTest::addColumn<QStringList>("info");   // addr, netmask, addr6, netmask6, mtu
        QTest::addColumn<QStringList>("includes");
        QTest::addColumn<QStringList>("excludes");
        QTest::addColumn<QStringList>("dns");
        QTest::addColumn<QStringList>("request");
        QTest::newRow("split routes in both forms, an exclude, DNS")
            << QStringList{"10.213.4.7", "255.255.255.0", "", "", "1399"}
            << QStringList{"10.213.9.1/255.255.255.255", "192.168.3.1/16", "10.9.9.9"}
            << QStringList{"192.168.7.0/24"} << QStringList{"10.213.9.53", "10.213.9.54"}
            << QStringList{"device vvpn0", "address4 10.213.4.7/24", "mtu 1399", "route 10.213.9.1/32",
                           "route 192.168.0.0/16", "route 10.9.9.9/32", "exclude 192.168.7.0/24", "dns 10.213.9.53",
                           "dns 10.213.9.54"};
        QTest::newRow("no split routes is everything, IPv6 too")
            << QStringList{"10.0.0.2", "255.255.255.255", "fd00::2", "fd00::2/64", "0"} << QStringList()
            << QStringList() << QStringList()
            << QStringList{"device vvpn0", "address4 10.0.0.2/32", "address6 fd00::2/64", "route 0.0.0.0/0",
                           "route ::/0"};
        QTest::newRow("IPv4 routes alone leave IPv6 everything; a bad mask is left out")
            << QStringList{"10.0.0.2", "", "fd00::2", "", "0"} << QStringList{"10.1.0.0/255.0.255.0", "10.2.0.0/16"}
            << QStringList{"fd00:1::/48"} << QStringList{"fd00::53"}
            << QStringList{"device vvpn0", "address4 10.0.0.2/32", "address6 fd00::2/128", "route 10.2.0.0/16",
                           "route ::/0", "exclude fd00:1::/48", "dns fd00::53"};
    }

    void configureRequest()
    {
        QFETCH(QStringList, info);
        QFETCH(QStringList, includes);
        QFETCH(QStringList, excludes);
        QFETCH(QStringList, dns);
        QFETCH(QStringList, request);
        std::deque<QByteArray> text;   // every string the record points to; a deque keeps them in place
        const auto keep = [&text](const QString &value) -> const char * {
            if (value.isEmpty())
                return nullptr;
            text.push_back(value.toLatin1());
            return text.back().constData();
        };
        const auto list = [&keep](const QStringList &routes, std::vector<oc_split_include> &nodes) {
            nodes.resize(std::size_t(routes.size()));
            for (int i = 0; i < routes.size(); ++i)
                nodes[std::size_t(i)] = {keep(routes.at(i)), i + 1 < routes.size() ? &nodes[std::size_t(i) + 1] : nullptr};
            return nodes.empty() ? nullptr : nodes.data();
        };
        std::vector<oc_split_include> in, out;
        oc_ip_info record {};
        record.addr = keep(info.at(0));
        record.netmask = keep(info.at(1));
        record.addr6 = keep(info.at(2));
        record.netmask6 = keep(info.at(3));
        record.mtu = info.at(4).toInt();
        for (int i = 0; i < dns.size() && i < 3; ++i)
            record.dns[i] = keep(dns.at(i));
        record.split_includes = list(includes, in);
        record.split_excludes = list(excludes, out);
        const std::string payload = ServiceProtocol::serialize(Varnel::configureRequest("vvpn0", record));
        QCOMPARE(QString::fromStdString(payload).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                 QStringList{"v1 configure"} + request);
    }

    // The tunnel script turns what OpenVPN (--up) hands it into one
    // "configure" request to the service; here a listener at the service's
    // socket takes its place.
    void tunnelScript_data()
    {
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QStringList>("request");   // "key value" lines after the verb; empty: none sent
        QTest::newRow("not run by OpenVPN: nothing sent")
            << QStringList{"reason=connect", "TUNDEV=vvpn0", "INTERNAL_IP4_ADDRESS=10.213.4.7"} << QStringList();
        QTest::newRow("openvpn: subnet, routes, redirect-gateway, DNS")
            << QStringList{"script_type=up", "dev=vvpn2", "ifconfig_local=10.213.5.2",
                           "ifconfig_netmask=255.255.255.0", "tun_mtu=1500", "route_network_1=10.213.9.1",
                           "route_netmask_1=255.255.255.255", "route_ipv6_network_1=fd01::5/64",
                           "foreign_option_1=dhcp-option DNS 10.213.9.53", "foreign_option_2=dhcp-option DOMAIN lab",
                           "pushed=PUSH_REPLY,route-gateway 10.213.5.1,redirect-gateway def1 ipv6,ping 2,"}
            << QStringList{"device vvpn2", "address4 10.213.5.2/24", "mtu 1500", "route 10.213.9.1/32",
                           "route fd01::/64", "route 0.0.0.0/0", "route ::/0", "dns 10.213.9.53"};
        QTest::newRow("openvpn: redirect-gateway for IPv6 alone")
            << QStringList{"script_type=up", "dev=vvpn0", "ifconfig_local=10.8.0.6", "ifconfig_remote=10.8.0.5",
                           "pushed=PUSH_REPLY,redirect-gateway ipv6 !ipv4"}
            << QStringList{"device vvpn0", "address4 10.8.0.6/32", "route 10.8.0.5/32", "route ::/0"};
        QTest::newRow("openvpn: point-to-point peer")
            << QStringList{"script_type=up", "dev=vvpn0", "ifconfig_local=10.8.0.6", "ifconfig_remote=10.8.0.5"}
            << QStringList{"device vvpn0", "address4 10.8.0.6/32", "route 10.8.0.5/32"};
    }

    void tunnelScript()
    {
        QFETCH(QStringList, environment);
        QFETCH(QStringList, request);
        QTemporaryDir dir;
        QLocalServer service;
        QVERIFY(service.listen(dir.filePath(QStringLiteral("control"))));
        QStringList received;
        QObject::connect(&service, &QLocalServer::newConnection, [&] {
            QLocalSocket *client = service.nextPendingConnection();
            QObject::connect(client, &QLocalSocket::readyRead, [&, client] {
                ServiceProtocol::FrameReader reader;
                const QByteArray bytes = client->peek(client->bytesAvailable());
                reader.feed(bytes.constData(), std::size_t(bytes.size()));
                std::string payload;
                if (reader.next(&payload) != ServiceProtocol::FrameReader::Status::Frame)
                    return;
                received = QString::fromStdString(payload).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
                client->write(QByteArray::fromStdString(ServiceProtocol::frame(ServiceProtocol::ok())));
            });
        });
        QProcess script;
        QStringList env = environment;
        env << QStringLiteral("VARNELVPN_SERVICE_SOCKET=") + service.fullServerName();
        const QStringList pushed = environment.filter(QRegularExpression(QStringLiteral("^pushed=")));
        QFile pushedFile(dir.filePath(QStringLiteral("pushed")));
        if (!pushed.isEmpty())
            env << QStringLiteral("VARNELVPN_PUSHED_OPTIONS=") + pushedFile.fileName();
        script.setEnvironment(env);
        script.start(qEnvironmentVariable("VARNELVPN_TUNNEL_SCRIPT"), QStringList());
        QVERIFY(script.waitForStarted());
        // What the client read of OpenVPN's push reply, in its file; the
        // script may start before the client has written it, and waits.
        if (!pushed.isEmpty()) {
            QTest::qWait(100);
            QVERIFY(pushedFile.open(QIODevice::WriteOnly) && pushedFile.write(pushed.first().mid(7).toUtf8()) > 0);
            pushedFile.close();
        }
        QTRY_VERIFY_WITH_TIMEOUT(script.state() == QProcess::NotRunning, 10000);
        QCOMPARE(script.exitCode(), request.isEmpty() ? 2 : 0);
        QCOMPARE(received, request.isEmpty() ? QStringList() : QStringList{"v1 configure"} + request);
    }
};

QTEST_GUILESS_MAIN(TestVpnParts)
#include "tst_vpnparts.moc"
