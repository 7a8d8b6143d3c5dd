#include "common/serviceprotocol.h"
#include "vpn/authform.h"
#include "vpn/managementline.h"
#include "vpn/openconnectconnection.h"
#include "vpn/openconnectserver.h"
#include "vpn/openvpnconfig.h"
#include "vpn/openvpnfilter.h"
#include "vpn/openvpnrunner.h"
#include "vpn/peerpin.h"
#include "vpn/tunnelinfo.h"
#include "logwatch.h"
#include "servicesandbox.h"
#include "statusrecorder.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <openconnect.h>

#include <sys/stat.h>

#include <cstdarg>
#include <cstdlib>
#include <deque>

using namespace Varnel;
using Status = OpenConnectConnection::Status;

namespace {

// A login form as the OpenConnect library hands it over, written as
// "kind:name" words (t text, p password, s select, h hidden, i ignored
// text) and "g:a,b" for the group list, which comes first. It frees the
// values the filler sets (the library does in a real session).
class Form
{
public:
    explicit Form(const QString &layout)
    {
        oc_form_opt **end = &m_form.opts;
        for (const QString &word : layout.split(QLatin1Char(' '))) {
            const char kind = word.at(0).toLatin1();
            oc_form_opt *option = kind == 'g' ? &m_groups.form : &m_options.emplace_back();
            option->name = keep(kind == 'g' ? QByteArray("group_list") : word.mid(2).toUtf8());
            option->type = kind == 'p' ? OC_FORM_OPT_PASSWORD
                         : kind == 'h' ? OC_FORM_OPT_HIDDEN
                         : kind == 's' || kind == 'g' ? OC_FORM_OPT_SELECT : OC_FORM_OPT_TEXT;
            option->flags = kind == 'i' ? OC_FORM_OPT_IGNORE : 0;
            if (kind == 'g') {
                for (const QString &name : word.mid(2).split(QLatin1Char(','))) {
                    m_choices.push_back(oc_choice {});
                    m_choices.back().name = keep(name.toUtf8());
                    m_choicePointers.push_back(&m_choices.back());
                }
                m_groups.choices = m_choicePointers.data();
                m_groups.nr_choices = int(m_choicePointers.size());
                m_form.authgroup_opt = &m_groups;
            }
            *end = option;
            end = &option->next;
        }
    }
    ~Form()
    {
        for (oc_form_opt &option : m_options) {
            if (option.type != OC_FORM_OPT_SELECT)
                std::free(option._value);
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
    char *keep(const QByteArray &text)
    {
        m_names.push_back(text);
        return m_names.back().data();
    }

    oc_auth_form m_form {};
    oc_form_opt_select m_groups {};
    std::deque<oc_form_opt> m_options;   // deques keep their elements in place
    std::deque<QByteArray> m_names;
    std::deque<oc_choice> m_choices;
    std::vector<oc_choice *> m_choicePointers;
};

// The server compares the bytes the user typed: UTF-8, as OpenVPN sends them.
const AuthFormInput kInput {QStringLiteral("jörg"), QStringLiteral("pässwörd€"), QString()};

// A self-signed certificate (DER) from the test data.
QByteArray certificate(const char *name)
{
    QFile file(QStringLiteral(VPN_TEST_DATA "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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

// A TLS server on loopback that never answers a request: a connect attempt
// to it waits for the login page until it is cancelled.
class SilentTlsServer : public QTcpServer
{
public:
    SilentTlsServer() { listen(QHostAddress::LocalHost); }
    // Bytes the clients have sent after the handshake.
    QByteArray received;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setLocalCertificate(QStringLiteral(VPN_TEST_DATA "/server.crt"));
        socket->setPrivateKey(QStringLiteral(VPN_TEST_DATA "/server.key"), QSsl::Ec);
        QObject::connect(socket, &QSslSocket::readyRead, this, [this, socket] { received += socket->readAll(); });
        socket->startServerEncryption();
    }
};

const QString kClient = QStringLiteral("client\nremote 10.0.0.1 1194\n");

} // namespace

// The engine's pure pieces (the OpenVPN configuration, its filter and the
// management lines; the OpenConnect form filler, key pins, tunnel facts and
// progress texts; the tunnel script's request to the service), then the
// engine beside the real service: the OpenVPN runner and the controller
// against a stand-in OpenVPN program (fakeopenvpn.cpp) that records what it
// is given and plays the management side from a script; OpenConnect attempts
// that never get past their first step.
class TestVpnEngine : public QObject
{
    Q_OBJECT
public:
    explicit TestVpnEngine(ServiceSandbox &sandbox) : m_sandbox(sandbox) {}

private slots:
    void initTestCase()
    {
        QVERIFY(OpenConnectConnection::initTls());
        m_engine = OpenConnectConnection::instance();
    }

    void init()
    {
        m_engine->setUsername(QStringLiteral("user"));
        m_engine->setPassword(QStringLiteral("pass"));
        m_dir = std::make_unique<QTemporaryDir>();
        m_record = m_dir->filePath(QStringLiteral("record"));
        qputenv("VARNELVPN_OPENVPN", FAKE_OPENVPN);
        qputenv("FAKE_OPENVPN_RECORD", m_record.toLocal8Bit());
        QVERIFY(m_sandbox.running() || m_sandbox.start());
    }

    void cleanup()
    {
        // A failed test leaves its runner behind: end its program, remove its files.
        for (const QPointer<OpenVpnRunner> &runner : qAsConst(m_runners))
            delete runner.data();
        m_runners.clear();
        m_engine->disconnect();
        QTRY_COMPARE_WITH_TIMEOUT(m_engine->status(), OpenConnectConnection::Disconnected, 10000);
        QTRY_VERIFY(m_engine->findChildren<OpenVpnRunner *>().isEmpty());
        qunsetenv("FAKE_OPENVPN_STEPS");
    }

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
        refused("connection block", "<connection>\nremote h 1\n</connection>\n", 1, "<connection>");
        refused("block end found by its start", "<ca>\nx\n</ca> rest\nup /bin/sh\n", 4, "up");
        refused("block without end", "client\n<ca>\nplugin x\n", 2, "ca");
        refused("device path", "dev /dev/net/tun\n", 1, "dev");
        refused("long line", "remote " + QByteArray(250, 'a') + "plugin /x.so\n", 1, "");
        // Structures OpenVPN reads in its own way: each stops at the unknown
        // directive on the line where OpenVPN 2.6 stops.
        refused("indented end tag", "<ca>\nfrobnicate\n   </ca>\nfrobnicate\n", 4, "frobnicate");
        refused("quoted start tag", "\"<ca>\"\nfrobnicate\n</ca>\nfrobnicate\n", 4, "frobnicate");
        refused("quoted and escaped", "\"verb\" '3'\nverify-x509-name \"CN=a \\\"b\\\" \\\\c\" name\n'frobnicate'\n", 3,
                "frobnicate");
        refused("comment sign after a backslash", "<ca> \\;x\nfrobnicate\n</ca>\nfrobnicate\n", 4, "frobnicate");
        refused("backslash before the line feed", "<ca> x\\\nfrobnicate\n</ca>\nfrobnicate\n", 1, "<ca>");
        refused("unterminated quote", "remote \"h 1\n", 1, "");
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

    void managementLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("kind");
        QTest::addColumn<qint64>("down");
        QTest::addColumn<qint64>("up");
        const auto row = [](const char *name, const char *line, ManagementLine::Kind kind, qint64 down = 0,
                            qint64 up = 0) { QTest::newRow(name) << QString::fromLatin1(line) << int(kind) << down << up; };
        row("other password request", ">PASSWORD:Need 'Private Key' password", ManagementLine::Other);
        row("verification failed", ">PASSWORD:Verification Failed: 'Auth'", ManagementLine::VerificationFailed);
        row("connected with an error", ">STATE:1700000000,CONNECTED,ERROR,10.8.0.2,,,,", ManagementLine::Other);
        row("byte count beyond 32 bits", ">BYTECOUNT:5000000000,7", ManagementLine::ByteCount, 5000000000, 7);
        row("byte count with three numbers", ">BYTECOUNT:1,2,3", ManagementLine::Other);
        row("negative or beyond 63 bits counts as 0", ">BYTECOUNT:-5,9223372036854775808", ManagementLine::ByteCount);
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
        QTest::newRow("blank, non-ASCII letters") << QStringLiteral("Stra\u00dfe \u4e2d")
                                                  << QStringLiteral("\"Stra\u00dfe \u4e2d\"");
        // Each character is escaped once: the backslash added for the quote is
        // not escaped again.
        QTest::newRow("backslash then quote") << "\\\"" << "\"\\\\\\\"\"";
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
        row("single group: its form filled, the group set again", "",
            {"g:staff t:username", "g:staff t:username p:password"}, {newGroup, ok},
            {"group_list=staff", user, password});
        row("several groups, none wanted", "", {"g:staff,guests t:username"}, {cancelled}, {});
        row("several groups, wanted one offered", "guests", {"g:staff,guests t:username"}, {newGroup},
            {"group_list=guests"});
        row("names without case", "", {"t:UserName p:PASSWORD"}, {ok},
            {"UserName=" + kInput.username, "PASSWORD=" + kInput.password});
        row("unknown field", "", {"t:email"}, {cancelled}, {});
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
        const auto fill = [](const char *layout) {
            AuthFormState state;
            Form form(QString::fromLatin1(layout));
            return fillAuthForm(form.get(), state, kInput);
        };
        // The count is process-wide: a filled form starts it afresh.
        QCOMPARE((QList<int>{fill("t:username"), fill("h:csrf"), fill("h:csrf"), fill("t:username"), fill("h:csrf")}),
                 (QList<int>{OC_FORM_RESULT_OK, OC_FORM_RESULT_OK, OC_FORM_RESULT_CANCELLED, OC_FORM_RESULT_OK,
                             OC_FORM_RESULT_OK}));
    }

    void keyPinnedPerGateway()
    {
        const QByteArray certA = certificate("gateway-a.der");
        const QByteArray reissuedA = certificate("gateway-a-reissued.der");
        const QByteArray certB = certificate("gateway-b.der");
        QVERIFY(!certA.isEmpty() && !certB.isEmpty() && !reissuedA.isEmpty());

        OpenConnectServer server(QStringLiteral("vpn.example"));
        const auto check = [&server](const QByteArray &cert, const char *host = "vpn.example",
                                     const char *port = "443") {
            return checkPeerKey(cert, QString::fromLatin1(host), QString::fromLatin1(port), server);
        };
        LogWatch log;
        QCOMPARE(check(certA), PeerKey::Accepted);
        QCOMPARE(log.lines(), (QStringList{"peer is unknown", "saving peer's public key"}));
        const QByteArray pin = server.pin(QStringLiteral("vpn.example:443")).hash;

        // Same key, even in a new certificate: accepted without a word.
        log.restart();
        QCOMPARE(check(certA), PeerKey::Accepted);
        QCOMPARE(check(reissuedA), PeerKey::Accepted);
        QCOMPARE(log.lines(), QStringList());
        // Another key for a pinned gateway: refused, and the pin stays.
        QCOMPARE(check(certB), PeerKey::Changed);
        QCOMPARE(log.lines(), QStringList{"peer's key has changed!"});
        QCOMPARE(server.pin(QStringLiteral("vpn.example:443")).hash, pin);
        // Other gateways, another host or another port, have pins of their own.
        QCOMPARE((QList<PeerKey>{check(certB, "other.example"), check(certB, "vpn.example", "4443"),
                                 check(certA, "other.example"), check(certA)}),
                 (QList<PeerKey>{PeerKey::Accepted, PeerKey::Accepted, PeerKey::Changed, PeerKey::Accepted}));

        // What is not a certificate is refused and pins nothing.
        QCOMPARE(check("not a certificate", "h"), PeerKey::Refused);
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
        TunnelInfo info;
        info.readAddresses(full);
        QCOMPARE((QStringList{info.ipv4, info.ipv6, info.dns}),
                 (QStringList{"10.1.0.7/255.255.255.0", "fd00::7/fd00::7/64", "10.1.0.1, 10.1.0.2 10.1.0.3"}));

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
        QTest::newRow("IPv4 split routes in both forms leave IPv6 everything; a bad mask is left out")
            << QStringList{"10.213.4.7", "255.255.255.0", "fd00::7", "", "1399"}
            << QStringList{"10.213.9.1/255.255.255.255", "192.168.3.1/16", "10.9.9.9", "10.1.0.0/255.0.255.0"}
            << QStringList{"192.168.7.0/24"} << QStringList{"10.213.9.53", "10.213.9.54"}
            << QStringList{"device vvpn0", "address4 10.213.4.7/24", "address6 fd00::7/128", "mtu 1399",
                           "route 10.213.9.1/32", "route 192.168.0.0/16", "route 10.9.9.9/32", "route ::/0",
                           "exclude 192.168.7.0/24", "dns 10.213.9.53", "dns 10.213.9.54"};
        QTest::newRow("no split routes is everything, IPv6 too")
            << QStringList{"10.0.0.2", "255.255.255.255", "fd00::2", "fd00::2/64", "0"} << QStringList()
            << QStringList{"fd00:1::/48"} << QStringList{"fd00::53"}
            << QStringList{"device vvpn0", "address4 10.0.0.2/32", "address6 fd00::2/64", "route 0.0.0.0/0",
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
        QTest::newRow("openvpn: point-to-point peer, redirect-gateway for IPv6 alone")
            << QStringList{"script_type=up", "dev=vvpn0", "ifconfig_local=10.8.0.6", "ifconfig_remote=10.8.0.5",
                           "pushed=PUSH_REPLY,redirect-gateway ipv6 !ipv4"}
            << QStringList{"device vvpn0", "address4 10.8.0.6/32", "route 10.8.0.5/32", "route ::/0"};
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

    void runnerDialogue()
    {
        const QString go = m_dir->filePath(QStringLiteral("go"));
        const QStringList steps = {
            "go " + go, "connect", "expect hold release", "send >PASSWORD:Need 'Auth' username/password",
            "expect password Auth \"p\\\"w \\\\d\"", "send >STATE:1,CONNECTING,,,,,,",
            "say PUSH: Received control message: 'PUSH_REPLY,redirect-gateway def1,push-continuation 2'",
            "say PUSH: Received control message: 'PUSH_REPLY,dhcp-option DNS 10.8.0.1'",
            "send >STATE:2,WAIT,,,,,,", "send >STATE:3,CONNECTED,SUCCESS,10.8.0.2,10.0.0.1,1194,,",
            "send >BYTECOUNT:1024,2048", "wait-close"};
        qputenv("FAKE_OPENVPN_STEPS", steps.join(QLatin1Char('\n')).toLocal8Bit());
        QPointer<OpenVpnRunner> runner = new OpenVpnRunner;
        m_runners << runner;
        runner->setDevice(QStringLiteral("vvpn3"));
        runner->connect(kClient, QStringLiteral("us\"er"), QStringLiteral("p\"w \\d"));
        QSignalSpy connecting(runner.data(), &OpenVpnRunner::connecting);
        QSignalSpy connected(runner.data(), &OpenVpnRunner::connected);
        QSignalSpy transfer(runner.data(), &OpenVpnRunner::transfer);
        QSignalSpy disconnected(runner.data(), &OpenVpnRunner::disconnected);

        // The configuration reaches OpenVPN through its input: no file that
        // anyone could replace before OpenVPN reads it. The management socket's
        // folder is private. OpenVPN opens the service's device and hands what
        // the server pushed to the tunnel script, which reaches the service.
        const QString socketPath = runner->findChild<QLocalServer *>()->fullServerName();
        const QString privateDir = QFileInfo(socketPath).path();
        struct stat status {};
        QVERIFY(::stat(QFile::encodeName(privateDir).constData(), &status) == 0);
        QCOMPARE(status.st_mode & 07777, 0700u);
        QCOMPARE(QDir(privateDir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System),
                 QStringList {QStringLiteral("management")});

        // Another local program reaches the socket before OpenVPN does: it
        // gets nothing and is sent away; OpenVPN itself still gets through.
        QLocalSocket rogue;
        rogue.connectToServer(socketPath);
        QVERIFY(rogue.waitForConnected(3000));
        QTRY_COMPARE(rogue.state(), QLocalSocket::UnconnectedState);
        QCOMPARE(rogue.readAll(), QByteArray());
        QVERIFY(QFile(go).open(QIODevice::WriteOnly));

        QTRY_COMPARE(connected.count(), 1);
        QTRY_COMPARE(transfer.count(), 1);
        QCOMPARE(transfer.at(0), (QVariantList{qint64(1024), qint64(2048)}));
        // The CONNECTING state line; the WAIT line emits nothing.
        QCOMPARE(connecting.count(), 1);
        QCOMPARE(records(QStringLiteral("arg")),
                 QStringList({"--config", "stdin", "--verb", "3", "--management", socketPath, "unix",
                              "--management-client", "--management-query-passwords", "--management-hold",
                              "--suppress-timestamps", "--dev", "vvpn3", "--dev-type", "tun", "--disable-dco",
                              "--ifconfig-noexec", "--route-noexec", "--script-security", "2", "--up",
                              qEnvironmentVariable("VARNELVPN_TUNNEL_SCRIPT"), "--up-restart", "--setenv",
                              "VARNELVPN_SERVICE_SOCKET", qEnvironmentVariable("VARNELVPN_SERVICE_SOCKET"),
                              "--setenv", "VARNELVPN_PUSHED_OPTIONS", privateDir + "/pushed"}));
        // What the server pushed, both parts of it, for the tunnel script.
        QFile pushed(privateDir + "/pushed");
        QTRY_VERIFY(pushed.exists());
        QVERIFY(pushed.open(QIODevice::ReadOnly));
        QCOMPARE(pushed.readAll(),
                 "PUSH_REPLY,redirect-gateway def1,push-continuation 2,PUSH_REPLY,dhcp-option DNS 10.8.0.1,");
        QCOMPARE(records(QStringLiteral("config")), QStringList({"client", "remote 10.0.0.1 1194", ""}));
        QCOMPARE(records(QStringLiteral("got")),
                 QStringList({"state on", "state", "bytecount 1", "hold release", "username Auth \"us\\\"er\"",
                              "password Auth \"p\\\"w \\\\d\""}));

        // Only one management client: the listener is gone.
        QLocalSocket late;
        late.connectToServer(socketPath);
        QVERIFY(!late.waitForConnected(1000));

        runner->stop();
        // The program quits when it loses the management connection; the runner follows.
        QTRY_VERIFY(runner.isNull());
        QCOMPARE(disconnected.count(), 1);
    }

    // How a runner's session ends, as the runner tells the controller.
    void runnerEnds_data()
    {
        QTest::addColumn<QString>("config");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QStringList>("steps");   // none: the program must not start
        QTest::addColumn<TunnelFailure>("failure");
        QTest::addColumn<QString>("detail");
        const auto row = [](const char *name, const QStringList &steps, TunnelFailure failure,
                            const QString &detail = QString(), const QString &config = kClient,
                            const QString &password = QStringLiteral("pass")) {
            QTest::newRow(name) << config << password << steps << failure << detail;
        };
        const QStringList upThen = {"connect", "expect hold release", "send >STATE:1,CONNECTED,SUCCESS,,,,,"};
        const QString noDevice = QStringLiteral("ERROR: Cannot ioctl TUNSETIFF tun: Operation not permitted (errno=1)");
        row("configuration refused: nothing written or started", {}, TunnelFailure::ConfigurationRefused,
            "status", kClient + "status /tmp/status\n");
        // A control character would end the command and start another: nothing can reach OpenVPN.
        row("line feed in the password: not started", {}, TunnelFailure::CredentialsRejected, "", kClient,
            "pass\nsignal SIGTERM");
        row("no tunnel device", {"connect", "expect hold release", "say " + noDevice, "exit 1"},
            TunnelFailure::TunnelDevice, noDevice);
        row("gone before it connected", {"connect", "say Options error: something", "exit 1"},
            TunnelFailure::ServerUnreachable, "Options error: something");
        // An OpenVPN that ignores the polite stop is killed after its grace period.
        row("stopped, though the program ignores it: no failure",
            QStringList{"ignore-term"} + upThen + QStringList{"sleep 15000"}, TunnelFailure::None);
    }

    void runnerEnds()
    {
        QFETCH(QString, config);
        QFETCH(QString, password);
        QFETCH(QStringList, steps);
        QFETCH(TunnelFailure, failure);
        QFETCH(QString, detail);
        const bool started = !steps.isEmpty();
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
        QPair<TunnelFailure, QString> reason;
        QObject::connect(runner, &OpenVpnRunner::disconnected, this, [&] {
            ++ends;
            reason = qMakePair(runner->failure(), runner->failureDetail());
        });
        const bool running = runner->connect(config, QStringLiteral("user"), password);
        qunsetenv("TMPDIR");
        QCOMPARE(running, started);
        if (failure == TunnelFailure::None) {
            QTRY_COMPARE(connected.count(), 1);
            runner->stop();
        }
        QTRY_COMPARE(ends, 1);
        QCOMPARE(reason, qMakePair(failure, detail));
        QCOMPARE(QFileInfo::exists(m_record), started);
        if (!started)
            QCOMPARE(QDir(temporary).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        QTRY_VERIFY(guard.isNull());
    }

    void resultCodes_data()
    {
        QTest::addColumn<int>("protocol");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("username");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("result");

        const auto row = [](const char *name, int protocol, const char *server, const char *username,
                            const char *password, OpenConnectConnection::ConnectResult result) {
            QTest::newRow(name) << protocol << server << username << password << int(result);
        };
        const int openConnect = OpenConnectConnection::kOpenConnect, openVpn = OpenConnectConnection::kOpenVpn;
        row("OpenConnect, no gateway before credentials", openConnect, "", "user", "", OpenConnectConnection::InvalidServer);
        row("OpenConnect, empty password", openConnect, "127.0.0.1", "user", "", OpenConnectConnection::InvalidCredentials);
        row("OpenVPN, no configuration before credentials", openVpn, "", "", "", OpenConnectConnection::InvalidServer);
        row("OpenVPN, empty user name", openVpn, "client\n", "", "pass", OpenConnectConnection::InvalidCredentials);
    }

    void resultCodes()
    {
        QFETCH(int, protocol);
        QFETCH(QString, server);
        QFETCH(QString, username);
        QFETCH(QString, password);
        m_engine->setProtocol(protocol);
        m_engine->setUsername(username);
        m_engine->setPassword(password);
        if (protocol == OpenConnectConnection::kOpenConnect)
            m_engine->setServer(std::make_shared<OpenConnectServer>(server));
        else
            m_engine->setOpenVpnConfig(QString::fromLatin1(server.toLatin1().toBase64()), QStringLiteral("h:1"));
        StatusRecorder status(m_engine.get());
        QTEST(int(m_engine->connect()), "result");
        // No status may come: a refused connect starts nothing, so one would be queued already.
        QTest::qWait(50);
        QCOMPARE(status.statuses.size(), 0);
        QVERIFY(m_engine->findChildren<OpenVpnRunner *>().isEmpty());
    }

    // Without the service nothing starts: the attempt ends at once and says
    // how to start the service (OpenVPN's attempt: in the connect-flow test).
    void serviceNotRunning()
    {
        m_sandbox.stop();
        useOpenConnect(QStringLiteral("127.0.0.1:1"));
        StatusRecorder status(m_engine.get());
        QCOMPARE(m_engine->connect(), OpenConnectConnection::Started);
        QTRY_COMPARE(status.statuses, QList<Status>{OpenConnectConnection::Disconnected});
        QCOMPARE(status.failures.size(), 1);
        QCOMPARE(status.failures.first().second, TunnelFailure::ServiceUnavailable);
        QVERIFY(status.details.first().contains(QStringLiteral("sudo systemctl start varnelvpn")));
        QVERIFY(m_engine->findChildren<OpenVpnRunner *>().isEmpty() && !m_engine->isSessionRunning());
    }

    // An OpenConnect attempt waiting for its login page, stopped by the user
    // or by the end of the application's event loop (then the controller
    // stops it before the thread pool would wait for it forever).
    void attemptStopped_data()
    {
        QTest::addColumn<bool>("quit");
        QTest::newRow("disconnect") << false;
        QTest::newRow("event loop ends") << true;
    }

    void attemptStopped()
    {
        QFETCH(bool, quit);
        SilentTlsServer server;
        StatusRecorder status(m_engine.get());
        startWaitingAttempt(server);
        QTRY_COMPARE(m_engine->status(), OpenConnectConnection::Connecting);
        // The attempt holds the command channel: a second one is refused.
        QCOMPARE(m_engine->connect(), OpenConnectConnection::AlreadyActive);
        QCOMPARE(m_engine->update_stats(), 0);

        if (quit) {
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            QCoreApplication::exec();
        } else {
            m_engine->disconnect();
        }
        QTRY_COMPARE_WITH_TIMEOUT(status.last(), OpenConnectConnection::Disconnected, 5000);
        QCOMPARE(status.statuses, QList<Status>({OpenConnectConnection::Connecting,
                                                  OpenConnectConnection::Disconnecting,
                                                  OpenConnectConnection::Disconnected}));
        QCOMPARE(m_engine->lastError(), QStringLiteral("Authentication error; cannot obtain cookie"));
        QTRY_COMPARE(m_engine->status(), OpenConnectConnection::Disconnected);

        // The stopped session was released: a new one can start.
        startWaitingAttempt(server);
        m_engine->disconnect();
        QTRY_COMPARE_WITH_TIMEOUT(status.count(OpenConnectConnection::Disconnected), 2, 5000);
    }

private:
    // What the program recorded under prefix.
    QStringList records(const QString &prefix) const
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

    // Starts an OpenConnect attempt that waits on a silent server.
    void startWaitingAttempt(SilentTlsServer &server)
    {
        server.received.clear();
        useOpenConnect(QStringLiteral("127.0.0.1:%1").arg(server.serverPort()));
        QCOMPARE(m_engine->connect(), OpenConnectConnection::Started);
        // Past the handshake (its key pinned), the login request is waiting for an answer.
        QTRY_VERIFY_WITH_TIMEOUT(server.received.contains("POST"), 10000);
    }

    void useOpenConnect(const QString &address)
    {
        m_engine->setProtocol(OpenConnectConnection::kOpenConnect);
        m_engine->setServer(std::make_shared<OpenConnectServer>(address));
    }

    ServiceSandbox &m_sandbox;
    std::shared_ptr<OpenConnectConnection> m_engine;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_record;
    QList<QPointer<OpenVpnRunner>> m_runners;
};

VARNEL_SERVICE_TEST_MAIN(TestVpnEngine, QCoreApplication)
#include "tst_vpnengine.moc"
