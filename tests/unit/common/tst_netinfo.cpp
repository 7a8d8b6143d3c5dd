#include "common/netinfo.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

using namespace Varnel;

// Runs this program in a fresh network namespace laid out by the script and
// returns what localIpv4() says there.
class TestNetInfo : public QObject
{
    Q_OBJECT

    static QString probe(const QString &setup)
    {
        QProcess p;
        p.start(QStringLiteral("unshare"),
                {QStringLiteral("--net"), QStringLiteral("sh"), QStringLiteral("-ec"),
                 setup + QStringLiteral("\nexec \"$0\" --probe"), QCoreApplication::applicationFilePath()});
        if (!p.waitForFinished(20000) || p.exitCode() != 0)
            return QStringLiteral("<failed: %1>").arg(QString::fromLocal8Bit(p.readAllStandardError()));
        return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    }

private slots:
    void initTestCase()
    {
        if (geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
            QSKIP("needs root, unshare and ip to lay out a network namespace");
    }

    void interfacesInNamespace_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("address");
        QTest::newRow("nothing up") << QString(":") << QString();
        QTest::newRow("loopback only") << QString("ip link set lo up") << QString();
        // v0 carries the only usable address; v1 has IPv6 only; w0 has IPv4 but is down.
        QTest::newRow("running, not loopback, IPv4")
            << QString("ip link set lo up\n"
                       "ip link add v0 type veth peer name v1\n"
                       "ip addr add 10.9.8.7/24 dev v0\n"
                       "ip link set v0 up\nip link set v1 up\n"
                       "ip link add w0 type veth peer name w1\n"
                       "ip addr add 10.9.9.1/24 dev w0\n"
                       "ip link set w1 up\n")
            << QString("10.9.8.7");
    }
    void interfacesInNamespace()
    {
        QFETCH(QString, setup);
        QTEST(probe(setup), "address");
    }
};

int main(int argc, char **argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--probe") == 0) {
        QCoreApplication app(argc, argv);
        std::printf("%s\n", qPrintable(localIpv4()));
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestNetInfo test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_netinfo.moc"
