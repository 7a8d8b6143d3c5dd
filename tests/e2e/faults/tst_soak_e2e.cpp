// 50 connects and disconnects through the window, alternating the lab's
// OpenVPN and OpenConnect servers: resident memory, open descriptors and
// threads do not grow, and no OpenVPN program is left behind.
#include "engine/enginelab.h"
#include "faultlab.h"
#include "labfixture.h"

#include "common/logger.h"
#include "vpn/openconnectconnection.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace Varnel;
using namespace Varnel::FaultLab;
using Connection = OpenConnectConnection;

namespace {

// The heap and the window's caches settle within about 40 cycles (measured:
// +10 MiB over them, +24 KiB over the 100 after).
constexpr int kWarmUp = 40;
constexpr int kCycles = 50;

int threads()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

    RefBackendProcess m_backend;
    QTemporaryDir m_files;

private slots:
    void connectDisconnectCycles()
    {
        if (!Lab::inside())
            QSKIP("needs the lab (root, network namespaces): run through tools/lab/run-in-lab.sh");
        QVERIFY2(startBackend(m_backend, {}, m_files.filePath(QStringLiteral("data.json"))),
                 qPrintable(m_backend.errorText()));
        LoggedInWindow window;
        QString error;
        QVERIFY2(window.open(m_backend, &error), qPrintable(error));

        qint64 rss = 0;
        int descriptors = 0;
        int threadsBefore = 0;
        for (int cycle = 0; cycle < kWarmUp + kCycles; ++cycle) {
            if (cycle == kWarmUp) {
                rss = EngineLab::residentKiB();
                descriptors = EngineLab::openDescriptors();
                threadsBefore = threads();
            }
            const int serverId = cycle % 2 ? kOcserv : kOpenVpn;
            QCOMPARE(window.attempt(serverId), int(Connection::Connected));
            QVERIFY2(window.messages().isEmpty(), qPrintable(window.messages().join(QLatin1Char('|'))));
            QTRY_VERIFY_WITH_TIMEOUT(!tunnelDevice().isEmpty(), 10000);
            QVERIFY(window.disconnectAndSettle());
            QTRY_COMPARE_WITH_TIMEOUT(tunnelDevice(), QString(), 10000);
            // The log keeps its last 19999 records by design; emptied, so
            // that its growth does not hide one of ours.
            Logger::instance().clear();
        }
        const qint64 rssAfter = EngineLab::residentKiB();
        const int descriptorsAfter = EngineLab::openDescriptors();
        const int threadsAfter = threads();
        qInfo("%d cycles after %d to warm up: RSS %lld -> %lld KiB, descriptors %d -> %d, threads %d -> %d", kCycles,
              kWarmUp, rss, rssAfter, descriptors, descriptorsAfter, threadsBefore, threadsAfter);
        QCOMPARE(descriptorsAfter, descriptors);
        QVERIFY2(rssAfter - rss < 1024, qPrintable(QString::number(rssAfter - rss)));
        // The session threads are pooled: one may be idle, none more.
        QVERIFY(threadsAfter <= threadsBefore + 1);
        QCOMPARE(openVpnProcessesHere(), QList<qint64>());
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TestSoak test;
    return FaultLab::exec(&test, argc, argv);
}

#include "tst_soak_e2e.moc"
