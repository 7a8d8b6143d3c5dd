// The real varnelvpn-service as root in a network namespace of the test's own,
// driven by clients of other uids: hostile requests change nothing, users
// cannot touch each other's tunnel or block, and a killed client leaves no
// device and (with its kill switch on) the block.

#include "servicesandbox.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <pwd.h>

namespace {

using Client = ServicePeer;
const auto framed = ServicePeer::framed;

constexpr uid_t kUserA = 65534;
const std::string kOpen = "v1 open\nprotocol openvpn\nendpoint 192.0.2.1\nport 1194\ntransport udp\nkillswitch ";
const QString kBusy = QStringLiteral("another user's VPN connection is active");

// What a shell command prints.
QString out(const QString &command)
{
    QProcess p;
    p.start(QStringLiteral("sh"), {QStringLiteral("-c"), command});
    p.waitForFinished(10000);
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

QString devices() { return out(QStringLiteral("ip -o link show | cut -d: -f2")); }
bool hasTunnel() { return devices().contains(QLatin1String("vvpn0")); }
QString nftRuleset() { return out(QStringLiteral("nft list ruleset")); }
bool blockInPlace() { return nftRuleset().contains(QLatin1String("table inet varnelvpn_killswitch")); }
QString endpointSet() { return out(QStringLiteral("nft list set inet varnelvpn_killswitch endpoints4")); }

} // namespace

class TestService : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    ServiceInstance m_service {QStringLiteral(VARNEL_SERVICE_EXECUTABLE), QStringLiteral(VARNEL_KILLSWITCH_SCRIPTS),
                               m_dir.path()};
    QString m_data = m_service.dataDir();
    QString m_socket = m_service.socket();
    QString m_canary = m_dir.filePath(QStringLiteral("canary"));
    uid_t m_userB = 0;

    QString request(uid_t uid, const std::string &payload) { return Client(m_socket, uid).request(payload, true); }

    // What a refused request must leave as it was: devices, the firewall,
    // and every file of this test's folder (the data folder among them).
    QString snapshot() const
    {
        return devices() + nftRuleset()
               + out(QStringLiteral("cd %1 && find . -printf '%p %u %m %y\\n' -type f -exec sha1sum {} + | sort")
                         .arg(m_dir.path()));
    }

private slots:
    void initTestCase()
    {
        // Another user no account has.
        for (uid_t uid = 60000; uid < 60100 && !m_userB; ++uid) {
            if (!getpwuid(uid))
                m_userB = uid;
        }
        QVERIFY(m_userB);
        QVERIFY(m_service.start());
    }

    void hostileRequest_data()
    {
        const std::string canary = QFile::encodeName(m_canary).toStdString();
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const std::string &bytes, const char *expected) {
            QTest::newRow(name) << QByteArray::fromStdString(bytes) << QString::fromLatin1(expected);
        };
        const auto configure = [](const std::string &fields, const std::string &device = "vvpn0") {
            return framed("v1 configure\ndevice " + device + "\n" + fields);
        };
        // One refusal of each kind the parser has (every field value it
        // refuses is in its unit test); here: the service acts on none.
        row("interface name with a command", configure("", "vvpn0;touch${IFS}" + canary), "invalid device");
        row("endpoint with a command",
            framed("v1 open\nprotocol openvpn\nendpoint $(touch " + canary + ")\nport 1\ntransport udp\nkillswitch on\n"),
            "invalid endpoint");
        row("path traversal", framed("v1 close\ndevice ../../../../etc/passwd\n"), "invalid device");
        row("exclude that is a path", configure("exclude /etc/shadow\n"), "invalid exclude");
        std::string routes;
        for (int i = 0; i < 10000; ++i)
            routes += "route 10." + std::to_string(i / 250) + "." + std::to_string(i % 250) + ".0/24\n";
        row("10,000 routes", configure(routes), "malformed, closed");
        row("oversized frame", std::string("\x00\x01\x00\x01", 4) + std::string(65537, 'a'), "malformed, closed");
        row("length 0", std::string(4, '\0'), "malformed, closed");
        row("not text", framed(std::string("v1 status\n\x01\xff\n", 13)), "malformed");
        row("truncated frame, then gone", framed("v1 killswitch\nstate on\n").substr(0, 12), "gone");
    }
    void hostileRequest()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        // Another user's client, and one that holds half a frame throughout.
        Client observer(m_socket, m_userB);
        Client slow(m_socket, m_userB);
        slow.send(framed("v1 status\n").substr(0, 7));
        const QString before = snapshot();
        {
            Client hostile(m_socket, kUserA);
            QVERIFY(hostile.connected());
            hostile.send(bytes.toStdString());
            if (expected != QLatin1String("gone"))
                QCOMPARE(hostile.reply(), expected.section(QLatin1Char(','), 0, 0));
            if (expected.endsWith(QLatin1String("closed")))
                QCOMPARE(hostile.reply(), QStringLiteral("closed"));
        }
        QCOMPARE(observer.request("v1 status\n"), QStringLiteral("ok"));
        QCOMPARE(snapshot(), before);
        QVERIFY(!QFile::exists(m_canary));
        // The half frame is still waited for, within its time.
        slow.send(framed("v1 status\n").substr(7));
        QCOMPARE(slow.reply(), QStringLiteral("ok"));
    }

    // A half frame is waited for (see the slow client above), but not for
    // ever; nor are more than 16 connections of one user at a time.
    void patienceAndConnectionLimit()
    {
        Client slow(m_socket, kUserA);
        slow.send(framed("v1 status\n").substr(0, 3));
        QCOMPARE(slow.reply(false, 8000), QStringLiteral("malformed"));
        QCOMPARE(slow.reply(), QStringLiteral("closed"));

        std::vector<std::unique_ptr<Client>> clients;
        for (int i = 0; i < 16; ++i)
            clients.push_back(std::make_unique<Client>(m_socket, kUserA));
        QCOMPARE(Client(m_socket, kUserA).request("v1 status\n"), QStringLiteral("closed"));
        QCOMPARE(clients.front()->request("v1 status\n"), QStringLiteral("ok"));
        QCOMPARE(Client(m_socket, m_userB).request("v1 status\n"), QStringLiteral("ok"));
        clients.clear();
        // Their ends are seen in the service's own time.
        QTRY_COMPARE(Client(m_socket, kUserA).request("v1 status\n"), QStringLiteral("ok"));
    }

    // A's tunnel: B can neither open another, close it nor change it, and
    // cannot lift A's block; root can do all of it.
    void betweenUsers()
    {
        Client userA(m_socket, kUserA);
        QCOMPARE(userA.request(kOpen + "off\n"), QStringLiteral("ok"));
        QVERIFY(out(QStringLiteral("ip -d link show vvpn0")).contains(QStringLiteral("user ") + getpwuid(kUserA)->pw_name));
        QCOMPARE(request(m_userB, kOpen + "off\n"), "busy | " + kBusy);
        QCOMPARE(request(m_userB, "v1 close\ndevice vvpn0\n"), "denied | " + kBusy);
        QCOMPARE(request(m_userB, "v1 configure\ndevice vvpn0\nmtu 1400\n"), "denied | " + kBusy);
        QCOMPARE(devices().count(QLatin1String("vvpn")), 1);
        QVERIFY(hasTunnel());

        QCOMPARE(userA.request("v1 configure\ndevice vvpn0\naddress4 10.8.0.2/24\nmtu 1400\n"), QStringLiteral("ok"));
        QCOMPARE(request(0, "v1 configure\ndevice vvpn0\naddress4 10.8.0.3/24\n"), QStringLiteral("ok"));
        QCOMPARE(userA.request("v1 killswitch\nstate on\n"), QStringLiteral("ok"));
        QCOMPARE(request(m_userB, "v1 killswitch\nstate off\n"), QStringLiteral("ok"));
        QVERIFY(blockInPlace());
        QCOMPARE(request(0, "v1 close\ndevice vvpn0\n"), QStringLiteral("ok"));
        QTRY_VERIFY(!hasTunnel());
        QCOMPARE(request(0, "v1 killswitch\nstate off\n"), QStringLiteral("ok"));
        QVERIFY(!blockInPlace());
    }

    // The connection that opened the tunnel ends (all the service sees of a
    // killed client): within 1 s its device is gone, and with its kill
    // switch on the block holds without its way out.
    void clientGone_data()
    {
        QTest::addColumn<bool>("killSwitch");
        QTest::newRow("kill switch on") << true;
        QTest::newRow("kill switch off") << false;
    }
    void clientGone()
    {
        QFETCH(bool, killSwitch);
        auto owner = std::make_unique<Client>(m_socket, kUserA);
        QCOMPARE(owner->request(kOpen + (killSwitch ? "on\n" : "off\n")), QStringLiteral("ok"));
        QCOMPARE(endpointSet().contains(QLatin1String("192.0.2.1 . udp . 1194")), killSwitch);
        // Configured from another connection of the owner's, as its tunnel script does.
        QCOMPARE(request(kUserA, "v1 configure\ndevice vvpn0\naddress4 10.8.0.2/24\nroute 10.9.0.0/16\n"),
                 QStringLiteral("ok"));
        const QString ourRoutes = QStringLiteral("ip route show proto 118");
        QVERIFY(out(ourRoutes).contains(QLatin1String("10.9.0.0/16")));

        owner.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!hasTunnel(), 1000);
        // The block comes before the device goes.
        QCOMPARE(blockInPlace(), killSwitch);
        QCOMPARE(out(ourRoutes), QString());
        QVERIFY(!nftRuleset().contains(QLatin1String("varnelvpn_tunnel")));
        QVERIFY(!endpointSet().contains(QLatin1String("192.0.2.1")));
        QCOMPARE(request(0, "v1 killswitch\nstate off\n"), QStringLiteral("ok"));
    }

    // The scripts are loaded only as root's alone; nothing else is loaded.
    void unsafeScriptRefused_data()
    {
        QTest::addColumn<QString>("spoil");
        QTest::addColumn<QString>("expected");
        QTest::newRow("missing") << "rm SCRIPT" << "missing-script";
        QTest::newRow("writable by others") << "chmod o+w SCRIPT" << "unsafe-script";
        QTest::newRow("another user's") << "chown 65534 SCRIPT" << "unsafe-script";
        QTest::newRow("a link") << "mv SCRIPT SCRIPT.real && ln -s SCRIPT.real SCRIPT" << "unsafe-script";
        QTest::newRow("a folder others may change") << "chmod g+w DATA" << "unsafe-script";
    }
    void unsafeScriptRefused()
    {
        QFETCH(QString, spoil);
        const QString script = m_data + QStringLiteral("/block_outbound_except_vpn.nft");
        out(spoil.replace(QLatin1String("SCRIPT"), script).replace(QLatin1String("DATA"), m_data));
        const QString ruleset = nftRuleset();
        QTEST(Client(m_socket, kUserA).request("v1 killswitch\nstate on\n"), "expected");
        QCOMPARE(nftRuleset(), ruleset);
        // Back as installed; the hold asked for above ends.
        out(QStringLiteral("rm -f %1 %1.real && chmod 0755 %2 && %3/install.sh %2 >/dev/null")
                .arg(script, m_data, QStringLiteral(VARNEL_KILLSWITCH_SCRIPTS)));
        QVERIFY(QFileInfo(script).isFile());
        QCOMPARE(request(0, "v1 killswitch\nstate off\n"), QStringLiteral("ok"));
    }

    // Stop and start again: the tunnel goes with the service, the block and
    // who holds it stay, and a device left by a killed service is removed.
    void restart()
    {
        Client owner(m_socket, kUserA);
        QCOMPARE(owner.request(kOpen + "on\n"), QStringLiteral("ok"));
        QVERIFY(m_service.stop());
        QCOMPARE(owner.reply(), QStringLiteral("closed"));
        QVERIFY(!hasTunnel());
        QVERIFY(blockInPlace());
        QFile state(m_data + QStringLiteral("/service.txt"));
        QVERIFY(state.open(QIODevice::ReadOnly));
        QCOMPARE(state.readAll(), QByteArray("KillSwith:ON"));
        QCOMPARE(out("stat -c '%u %a' " + state.fileName()), QStringLiteral("0 644\n"));

        // As after a reboot: no table, and a device left over.
        out(QStringLiteral("nft delete table inet varnelvpn_killswitch; ip tuntap add vvpn7 mode tun"));
        QVERIFY(devices().contains(QLatin1String("vvpn7")));
        QVERIFY(m_service.start());
        QVERIFY(blockInPlace());
        QVERIFY(!devices().contains(QLatin1String("vvpn7")));
        QCOMPARE(request(m_userB, "v1 killswitch\nstate off\n"), QStringLiteral("ok"));
        QVERIFY(blockInPlace());
        QCOMPARE(request(kUserA, "v1 killswitch\nstate off\n"), QStringLiteral("ok"));
        QVERIFY(!blockInPlace());
    }
};

int main(int argc, char **argv)
{
    if (const int skip = ServiceSandbox::enterNamespace())
        return skip;
    QCoreApplication app(argc, argv);
    TestService test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_service.moc"
