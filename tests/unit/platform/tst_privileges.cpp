#include "platform/privileges.h"

#include <QProcess>
#include <QtTest>

#include <grp.h>
#include <sys/prctl.h>
#include <unistd.h>

using namespace Varnel;
using Privileges::NetworkAdminScope;

namespace {

// The hexadecimal value of a capability line ("CapEff:") of a status file,
// reduced to CAP_NET_ADMIN's bit; "other" when any other bit is set.
QString networkAdminBit(const QByteArray &status, const QByteArray &line)
{
    for (const QByteArray &l : status.split('\n')) {
        if (!l.startsWith(line + ':'))
            continue;
        const qulonglong value = l.mid(line.size() + 1).trimmed().toULongLong(nullptr, 16);
        if (value & ~(qulonglong(1) << 12))
            return QStringLiteral("other");
        return value ? QStringLiteral("1") : QStringLiteral("0");
    }
    return QStringLiteral("?");
}

QByteArray threadStatus()
{
    QFile status(QStringLiteral("/proc/thread-self/status"));
    return status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
}

// What a program started now by this thread holds.
QString childEffective()
{
    QProcess child;
    child.start(QStringLiteral("/bin/cat"), {QStringLiteral("/proc/self/status")});
    child.waitForFinished(10000);
    return networkAdminBit(child.readAllStandardOutput(), "CapEff");
}

QString threadSets()
{
    const QByteArray status = threadStatus();
    return QStringLiteral("permitted %1 effective %2 inheritable %3 ambient %4")
        .arg(networkAdminBit(status, "CapPrm"), networkAdminBit(status, "CapEff"),
             networkAdminBit(status, "CapInh"), networkAdminBit(status, "CapAmb"));
}

// In a process of its own: root becomes an ordinary user who keeps every
// capability permitted, as an exec with a file capability leaves a process
// (and more), then the start-up drop and the scopes are walked through.
// One line per observation.
int runChild(int argc, char *argv[])
{
    ::prctl(PR_SET_KEEPCAPS, 1);
    if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0
        || ::setresuid(65534, 65534, 65534) != 0)
        return 2;
    ::setenv("QT_PLUGIN_PATH", "/tmp/plugins", 1);
    ::setenv("PATH", "/tmp/evil", 1);
    ::setenv("VARNELVPN_API_BASE", "https://127.0.0.1:1", 1);

    Privileges::keepOnlyNetworkAdmin();
    Privileges::restrictEnvironment();
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    out << "environment " << qgetenv("QT_PLUGIN_PATH").isNull() << ' ' << qgetenv("PATH") << ' '
        << qgetenv("VARNELVPN_API_BASE") << '\n';
    out << "start: " << threadSets() << ", permitted() " << Privileges::networkAdminPermitted()
        << ", child " << childEffective() << '\n';
    {
        NetworkAdminScope scope(NetworkAdminScope::Inherited);
        out << "inherited scope: " << threadSets() << ", active " << scope.active() << ", child "
            << childEffective() << '\n';
    }
    out << "after it: " << threadSets() << ", child " << childEffective() << '\n';
    // A thread that exists already keeps its own sets while the scope lasts.
    QSemaphore scopeOpen, observed;
    QString other;
    std::unique_ptr<QThread> thread(QThread::create([&] {
        scopeOpen.acquire();
        other = threadSets();
        observed.release();
    }));
    thread->start();
    {
        NetworkAdminScope scope(NetworkAdminScope::Effective | NetworkAdminScope::Inherited);
        {
            NetworkAdminScope inner(NetworkAdminScope::Inherited);
        }
        out << "both, after an inner scope: " << threadSets() << ", child " << childEffective() << '\n';
        scopeOpen.release();
        observed.acquire();
        out << "other thread meanwhile: " << other << '\n';
    }
    thread->wait();
    out << "after it: " << threadSets() << '\n';
    return 0;
}

} // namespace

class TestPrivileges : public QObject
{
    Q_OBJECT
private slots:
    void keptEnvironment_data();
    void keptEnvironment();
    void scopesRaiseOnlyForTheirThreadAndTime();
};

void TestPrivileges::keptEnvironment_data()
{
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<bool>("kept");
    QTest::newRow("display") << QByteArray("DISPLAY=:0") << true;
    QTest::newRow("home") << QByteArray("HOME=/home/u") << true;
    QTest::newRow("locale") << QByteArray("LC_ALL=de_DE.UTF-8") << true;
    QTest::newRow("backend") << QByteArray("VARNELVPN_API_BASE=https://x") << true;
    QTest::newRow("platform") << QByteArray("QT_QPA_PLATFORM=offscreen") << true;
    QTest::newRow("qt plugins") << QByteArray("QT_PLUGIN_PATH=/tmp/p") << false;
    QTest::newRow("platform plugins") << QByteArray("QT_QPA_PLATFORM_PLUGIN_PATH=/tmp/p") << false;
    QTest::newRow("platform theme") << QByteArray("QT_QPA_PLATFORMTHEME=gtk3") << false;
    QTest::newRow("gtk modules") << QByteArray("GTK_MODULES=/tmp/m.so") << false;
    QTest::newRow("gio modules") << QByteArray("GIO_EXTRA_MODULES=/tmp") << false;
    QTest::newRow("preload") << QByteArray("LD_PRELOAD=/tmp/x.so") << false;
    QTest::newRow("openvpn program") << QByteArray("VARNELVPN_OPENVPN=/tmp/sh") << false;
    QTest::newRow("kill-switch folder") << QByteArray("VARNELVPN_DATA_DIR=/tmp") << false;
    QTest::newRow("nft program") << QByteArray("VARNELVPN_NFT=/tmp/nft") << false;
    QTest::newRow("name that only starts alike") << QByteArray("DISPLAYX=1") << false;
    QTest::newRow("no value") << QByteArray("HOME") << false;
    QTest::newRow("caller's search path") << QByteArray("PATH=/tmp/bin:/usr/bin") << false;
}

void TestPrivileges::keptEnvironment()
{
    QFETCH(QByteArray, entry);
    QFETCH(bool, kept);
    const QByteArrayList result = Privileges::keptEnvironment({"USER=u", entry});
    QCOMPARE(result.contains(entry), kept);
    QCOMPARE(result.first(), QByteArray("USER=u"));
    QCOMPARE(std::count_if(result.begin(), result.end(), [](const QByteArray &e) { return e.startsWith("PATH="); }),
             1);
    QCOMPARE(result.last(), "PATH=" + Privileges::fixedPath());
}

void TestPrivileges::scopesRaiseOnlyForTheirThreadAndTime()
{
    if (::geteuid() != 0)
        QSKIP("needs root to become a user who holds capabilities");
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--privileges-child")});
    QVERIFY(child.waitForFinished(30000));
    const QString output = QString::fromLocal8Bit(child.readAllStandardOutput());
    QCOMPARE(child.exitCode(), 0);
    const QStringList expected = {
        "environment 1 " + QString::fromLatin1(Privileges::fixedPath()) + " https://127.0.0.1:1",
        "start: permitted 1 effective 0 inheritable 0 ambient 0, permitted() 1, child 0",
        "inherited scope: permitted 1 effective 0 inheritable 1 ambient 1, active 1, child 1",
        "after it: permitted 1 effective 0 inheritable 0 ambient 0, child 0",
        "both, after an inner scope: permitted 1 effective 1 inheritable 1 ambient 1, child 1",
        "other thread meanwhile: permitted 1 effective 0 inheritable 0 ambient 0",
        "after it: permitted 1 effective 0 inheritable 0 ambient 0",
    };
    QCOMPARE(output.trimmed().split('\n'), expected);
}

int main(int argc, char *argv[])
{
    if (argc == 2 && qstrcmp(argv[1], "--privileges-child") == 0)
        return runChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestPrivileges test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_privileges.moc"
