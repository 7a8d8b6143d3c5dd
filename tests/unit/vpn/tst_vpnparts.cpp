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

#include <openconnect.h>

#include <cstdarg>
#include <cstdlib>
#include <deque>

using namespace Varnel;

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

} // namespace

// The pure pieces of the engine: the OpenVPN configuration, its filter and
// the management lines; the OpenConnect form filler, key pins, tunnel facts
// and progress texts; the tunnel script's request to the service.
class TestVpnParts : public QObject
{
    Q_OBJECT
private slots:
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
        QTest::newRow("ends at the first zero byte") << QByteArray("remote remoteIP\0garbage", 23) << "h:5"
                                                     << "remote h";
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
        refused("double dash", "--log /x\n", 1, "log");
        refused("directive after an address with a line break", "remote 10.0.0.1\nplugin /x.so 1194\n", 2, "plugin");
        refused("connection block", "<connection>\nremote h 1\n</connection>\n", 1, "<connection>");
        refused("block end found by its start", "<ca>\nx\n</ca> rest\nup /bin/sh\n", 4, "up");
        refused("block without end", "client\n<ca>\nplugin x\n", 2, "ca");
        refused("device path", "dev /dev/net/tun\n", 1, "dev");
        refused("long line", "remote " + QByteArray(250, 'a') + "plugin /x.so\n", 1, "");
        // Structures OpenVPN reads in its own way: each stops at the unknown
        // directive on the line where OpenVPN 2.6 stops.
        refused("indented end tag", "<ca>\nfrobnicate\n   </ca>\nfrobnicate\n", 4, "frobnicate");
        refused("quoted start tag", "\"<ca>\"\nfrobnicate\n</ca>\nfrobnicate\n", 4, "frobnicate");
        refused("comment after arguments", "verb 3 # frobnicate\n; frobnicate\nfrobnicate\n", 3, "frobnicate");
        refused("quoted and escaped", "\"verb\" '3'\nverify-x509-name \"CN=a \\\"b\\\" \\\\c\" name\n'frobnicate'\n", 3,
                "frobnicate");
        refused("carriage returns", "verb 3\r\n\tfrobnicate\r\n", 2, "frobnicate");
        refused("comment sign after a backslash", "<ca> \\;x\nfrobnicate\n</ca>\nfrobnicate\n", 4, "frobnicate");
        refused("backslash before the line feed", "<ca> x\\\nfrobnicate\n</ca>\nfrobnicate\n", 1, "<ca>");
        refused("backslash at the very end", "verb 3\nfrobnicate\\", 2, "");
        refused("unterminated quote", "remote \"h 1\n", 1, "");
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
        row("wait state", ">STATE:1700000000,WAIT,,,,,,", ManagementLine::Other);
        row("connected with an error", ">STATE:1700000000,CONNECTED,ERROR,10.8.0.2,,,,", ManagementLine::Other);
        row("byte count beyond 32 bits", ">BYTECOUNT:5000000000,7", ManagementLine::ByteCount, 5000000000, 7);
        row("byte count with three numbers", ">BYTECOUNT:1,2,3", ManagementLine::Other);
        row("negative counts as 0", ">BYTECOUNT:-5,7", ManagementLine::ByteCount, 0, 7);
        row("beyond 63 bits counts as 0", ">BYTECOUNT:9,9223372036854775808", ManagementLine::ByteCount, 9, 0);
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
        QTest::newRow("empty") << "" << "\"\"";
        QTest::newRow("quote") << "a\"b" << "\"a\\\"b\"";
        QTest::newRow("backslash") << "a\\b" << "\"a\\\\b\"";
        // Each character is escaped once: the backslash added for the quote is
        // not escaped again.
        QTest::newRow("backslash then quote") << "\\\"" << "\"\\\\\\\"\"";
        QTest::newRow("line feed") << "pass\nsignal SIGTERM" << "";
        QTest::newRow("tab") << "pa\tss" << "";
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
        row("single group: fetched first", "", {"g:staff t:username"}, {newGroup}, {"group_list=staff", "username="});
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
};

QTEST_GUILESS_MAIN(TestVpnParts)
#include "tst_vpnparts.moc"
