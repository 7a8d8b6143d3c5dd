// The real varnelvpn-service, as root in a network namespace of this test's
// own, driven by clients of other uids: hostile requests change nothing,
// users cannot touch each other's tunnel or lift each other's block, and a
// killed client leaves no device and (with its kill switch on) the block.

#include "servicesandbox.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <pwd.h>
#include <sys/stat.h>

namespace {

using Client = ServicePeer;
const auto framed = ServicePeer::framed;

constexpr uid_t kUserA = 65534;
const std::string kOpen = "v1 open\nprotocol openvpn\nendpoint 192.0.2.1\nport 1194\ntransport udp\nkillswitch ";

QString run(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.start(program, arguments);
    p.waitForFinished(10000);
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

QString nftRuleset()
{
    return run(QStringLiteral("nft"), {QStringLiteral("list"), QStringLiteral("ruleset")});
}

QStringList devices()
{
    QStringList names;
    const QString links = run(QStringLiteral("ip"), {QStringLiteral("-o"), QStringLiteral("link"), QStringLiteral("show")});
    auto it = QRegularExpression(QStringLiteral("^\\d+: ([^:@]+)"), QRegularExpression::MultilineOption).globalMatch(links);
    while (it.hasNext())
        names << it.next().captured(1);
    return names;
}

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

    // What a refused request must leave as it was: devices, the firewall,
    // and every file of this test's folder (the data folder among them).
    QString snapshot() const
    {
        QString out = devices().join(QLatin1Char(' ')) + QLatin1Char('\n') + nftRuleset();
        QDirIterator it(m_dir.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        QStringList files;
        while (it.hasNext()) {
            const QFileInfo info(it.next());
            QFile file(info.filePath());
            const QByteArray hash = info.isFile() && file.open(QIODevice::ReadOnly)
                                        ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1).toHex()
                                        : QByteArray();
            files << QStringLiteral("%1 %2 %3 %4").arg(info.filePath()).arg(int(info.permissions())).arg(info.size()).arg(QString::fromLatin1(hash));
        }
        files.sort();
        return out + files.join(QLatin1Char('\n'));
    }

    QString setMembers(const char *set) const
    {
        return run(QStringLiteral("nft"), {QStringLiteral("list"), QStringLiteral("set"), QStringLiteral("inet"),
                                           QStringLiteral("varnelvpn_killswitch"), QLatin1String(set)});
    }
    bool blockInPlace() const { return nftRuleset().contains(QLatin1String("table inet varnelvpn_killswitch")); }

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
            if (expected != QLatin1String("gone")) {
                const QString got = hostile.reply();
                QCOMPARE(got, expected.section(QLatin1Char(','), 0, 0));
                if (expected.endsWith(QLatin1String("closed")))
                    QCOMPARE(hostile.reply(), QStringLiteral("closed"));
            }
        }
        QCOMPARE(observer.request("v1 status\n"), QStringLiteral("ok"));
        QCOMPARE(snapshot(), before);
        QVERIFY(!QFile::exists(m_canary));
        // The half frame is still waited for, within its time.
        slow.send(framed("v1 status\n").substr(7));
        QCOMPARE(slow.reply(), QStringLiteral("ok"));
    }

    // A half frame is waited for (see the slow client above), but not for ever.
    void halfFrameTimesOut()
    {
        Client slow(m_socket, kUserA);
        slow.send(framed("v1 status\n").substr(0, 3));
        QCOMPARE(slow.reply(false, 8000), QStringLiteral("malformed"));
        QCOMPARE(slow.reply(), QStringLiteral("closed"));
    }

    void connectionLimitPerUser()
    {
        std::vector<std::unique_ptr<Client>> clients;
        for (int i = 0; i < 16; ++i)
            clients.push_back(std::make_unique<Client>(m_socket, kUserA));
        Client seventeenth(m_socket, kUserA);
        QCOMPARE(seventeenth.request("v1 status\n"), QStringLiteral("closed"));
        QCOMPARE(clients.front()->request("v1 status\n"), QStringLiteral("ok"));
        QCOMPARE(Client(m_socket, m_userB).request("v1 status\n"), QStringLiteral("ok"));
        clients.clear();
        // Their ends are seen in the service's own time.
        QTRY_COMPARE(Client(m_socket, kUserA).request("v1 status\n"), QStringLiteral("ok"));
    }

    // One scenario, step by step: who asks what, and the answer.
    void betweenUsers_data()
    {
        QTest::addColumn<int>("uid");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("expected");
        const auto step = [](const char *name, int uid, const std::string &request, const char *expected) {
            QTest::newRow(name) << uid << QByteArray::fromStdString(request) << QString::fromLatin1(expected);
        };
        const int b = -1; // the second user, known at run time
        step("A opens", kUserA, kOpen + "off\n", "ok");
        step("B cannot open", b, kOpen + "off\n", "busy | another user's VPN connection is active");
        step("B cannot close", b, "v1 close\ndevice vvpn0\n", "denied | another user's VPN connection is active");
        step("B cannot configure", b, "v1 configure\ndevice vvpn0\nmtu 1400\n",
             "denied | another user's VPN connection is active");
        step("A configures", kUserA, "v1 configure\ndevice vvpn0\naddress4 10.8.0.2/24\nmtu 1400\n", "ok");
        step("root configures", 0, "v1 configure\ndevice vvpn0\naddress4 10.8.0.3/24\n", "ok");
        step("A holds the block", kUserA, "v1 killswitch\nstate on\n", "ok");
        step("B's off leaves it", b, "v1 killswitch\nstate off\n", "ok");
        step("root closes", 0, "v1 close\ndevice vvpn0\n", "ok");
        step("root lifts it", 0, "v1 killswitch\nstate off\n", "ok");
    }
    void betweenUsers()
    {
        QFETCH(int, uid);
        QFETCH(QByteArray, request);
        QFETCH(QString, expected);
        // A's connection opens the tunnel and must live through the steps.
        static std::unique_ptr<Client> userA;
        if (!userA)
            userA = std::make_unique<Client>(m_socket, kUserA);
        Client other(m_socket, uid < 0 ? m_userB : uid_t(uid));
        Client &client = uid == int(kUserA) ? *userA : other;
        QCOMPARE(client.request(request.toStdString(), expected.contains(QLatin1Char('|'))), expected);

        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        if (tag == QLatin1String("A opens"))
            QVERIFY(run(QStringLiteral("ip"), {QStringLiteral("-d"), QStringLiteral("link"), QStringLiteral("show"),
                                               QStringLiteral("vvpn0")})
                        .contains(QStringLiteral("user ") + QString::fromLocal8Bit(getpwuid(kUserA)->pw_name)));
        if (tag.startsWith(QLatin1String("B cannot")))
            QCOMPARE(devices().filter(QStringLiteral("vvpn")), QStringList {QStringLiteral("vvpn0")});
        if (tag == QLatin1String("B's off leaves it"))
            QVERIFY(blockInPlace());
        if (tag == QLatin1String("root closes"))
            QTRY_VERIFY(!devices().contains(QStringLiteral("vvpn0")));
        if (tag == QLatin1String("root lifts it")) {
            QVERIFY(!blockInPlace());
            userA.reset();
        }
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
        QCOMPARE(setMembers("endpoints4").contains(QLatin1String("192.0.2.1 . udp . 1194")), killSwitch);
        // Configured from another connection of the owner's, as its tunnel script does.
        QCOMPARE(Client(m_socket, kUserA).request("v1 configure\ndevice vvpn0\naddress4 10.8.0.2/24\nroute 10.9.0.0/16\n"),
                 QStringLiteral("ok"));
        const auto ourRoutes = [] {
            return run(QStringLiteral("ip"), {QStringLiteral("route"), QStringLiteral("show"), QStringLiteral("proto"),
                                              QStringLiteral("118")});
        };
        QVERIFY(ourRoutes().contains(QLatin1String("10.9.0.0/16")));

        owner.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!devices().contains(QStringLiteral("vvpn0")), 1000);
        // The block comes before the device goes.
        QCOMPARE(blockInPlace(), killSwitch);
        QCOMPARE(ourRoutes(), QString());
        QVERIFY(!nftRuleset().contains(QLatin1String("varnelvpn_tunnel")));
        if (killSwitch)
            QVERIFY(!setMembers("endpoints4").contains(QLatin1String("192.0.2.1")));
        QCOMPARE(Client(m_socket, 0).request("v1 killswitch\nstate off\n"), QStringLiteral("ok"));
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
        QFETCH(QString, expected);
        const QString script = m_data + QStringLiteral("/block_outbound_except_vpn.nft");
        const auto shell = [](const QString &command) {
            return QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), command});
        };
        QCOMPARE(shell(QString(spoil).replace(QLatin1String("SCRIPT"), script).replace(QLatin1String("DATA"), m_data)), 0);
        const QString ruleset = nftRuleset();
        QCOMPARE(Client(m_socket, kUserA).request("v1 killswitch\nstate on\n"), expected);
        QCOMPARE(nftRuleset(), ruleset);
        // Back as installed; the hold asked for above ends.
        QCOMPARE(shell(QStringLiteral("rm -f %1 %1.real && chmod 0755 %2 && %3/install.sh %2 >/dev/null")
                           .arg(script, m_data, QStringLiteral(VARNEL_KILLSWITCH_SCRIPTS))),
                 0);
        QCOMPARE(Client(m_socket, 0).request("v1 killswitch\nstate off\n"), QStringLiteral("ok"));
    }

    // Stop and start again: the tunnel goes with the service, the block and
    // who holds it stay, and a device left by a killed service is removed.
    void restart()
    {
        Client owner(m_socket, kUserA);
        QCOMPARE(owner.request(kOpen + "on\n"), QStringLiteral("ok"));
        QVERIFY(m_service.stop());
        QCOMPARE(owner.reply(), QStringLiteral("closed"));
        QVERIFY(!devices().contains(QStringLiteral("vvpn0")));
        QVERIFY(blockInPlace());
        const QByteArray statePath = QFile::encodeName(m_data + QStringLiteral("/service.txt"));
        QFile state(QFile::decodeName(statePath));
        QVERIFY(state.open(QIODevice::ReadOnly));
        QCOMPARE(state.readAll(), QByteArray("KillSwith:ON"));
        struct stat info {};
        QVERIFY(::stat(statePath.constData(), &info) == 0);
        QCOMPARE(info.st_uid, uid_t(0));
        QCOMPARE(info.st_mode & 07777, mode_t(0644));

        // As after a reboot: no table, and a device left over.
        run(QStringLiteral("nft"), {QStringLiteral("delete"), QStringLiteral("table"), QStringLiteral("inet"),
                                    QStringLiteral("varnelvpn_killswitch")});
        run(QStringLiteral("ip"), {QStringLiteral("tuntap"), QStringLiteral("add"), QStringLiteral("vvpn7"),
                                   QStringLiteral("mode"), QStringLiteral("tun")});
        QVERIFY(devices().contains(QStringLiteral("vvpn7")));
        QVERIFY(m_service.start());
        QVERIFY(blockInPlace());
        QVERIFY(!devices().contains(QStringLiteral("vvpn7")));
        QCOMPARE(Client(m_socket, m_userB).request("v1 killswitch\nstate off\n"), QStringLiteral("ok"));
        QVERIFY(blockInPlace());
        QCOMPARE(Client(m_socket, kUserA).request("v1 killswitch\nstate off\n"), QStringLiteral("ok"));
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
