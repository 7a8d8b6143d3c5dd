#include "backend/ipbundle.h"
#include "backend/user.h"
#include "common/config.h"
#include "vpn/openconnectconnection.h"
#include "vpn/trafficformat.h"
#include "widgets/statsindicator/statsindicator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using namespace Varnel;

// The statistics panel on the controller's statsChanged, with a stand-in
// ping first on PATH that records its arguments and answers with a real
// reply of this machine's ping (45.7 ms put in: loopback is faster).
class TestStatsIndicator : public QObject
{
    Q_OBJECT
public:
    explicit TestStatsIndicator(const QString &bin) : m_bin(bin) {}

private:
    QLabel *label(StatsIndicator &panel, const char *name)
    {
        return panel.findChild<QLabel *>(QLatin1String(name));
    }

    QStringList pingRuns() const
    {
        QFile record(m_bin + QStringLiteral("/runs.txt"));
        if (!record.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(record.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    const QString m_bin;
    // What the run's first statistics update (in initTestCase) showed and ran.
    QString m_firstPing;
    QStringList m_firstRuns;

private slots:
    void initTestCase()
    {
        QFile sample(QStringLiteral(PING_REPLY));
        QVERIFY(sample.open(QIODevice::ReadOnly));
        QFile answer(m_bin + QStringLiteral("/answer.txt"));
        QVERIFY(answer.open(QIODevice::WriteOnly));
        answer.write(sample.readAll().replace("time=0.215", "time=45.7"));
        answer.close();
        QFile ping(m_bin + QStringLiteral("/ping"));
        QVERIFY(ping.open(QIODevice::WriteOnly));
        ping.write(QStringLiteral("#!/bin/sh\necho \"$*\" >>'%1/runs.txt'\n[ -e '%1/hang' ] && sleep 30\ncat '%1/answer.txt'\n")
                       .arg(m_bin)
                       .toUtf8());
        ping.close();
        QVERIFY(ping.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        // Two servers; the active one is the second, given with its port.
        IPBundleList bundles;
        for (const auto &[id, ip] : {std::pair<int, const char *>{3, "10.9.8.1"}, {7, "10.9.8.7:1194"}}) {
            auto bundle = IPBundle::fromJson(QJsonObject());
            bundle->setIpId(id);
            bundle->setIp(QLatin1String(ip));
            bundles.append(bundle);
        }
        User::instance()->setBundles(bundles);
        Config::instance()->setActiveServer(7);

        // The round trip is measured once per run, on the run's first update: make
        // that update here, before any test function, whichever of them runs.
        StatsIndicator panel;
        emit OpenConnectConnection::instance()->statsChanged(1, 1);
        QTRY_VERIFY(label(panel, "lblPing")->text() != QStringLiteral("0"));
        m_firstPing = label(panel, "lblPing")->text();
        m_firstRuns = pingRuns();
    }

    void countersFollowEveryUpdateQueued()
    {
        StatsIndicator panel;
        const auto controller = OpenConnectConnection::instance();

        // From the session's thread, as the OpenConnect engine reports.
        QThread *worker = QThread::create([&] { emit controller->statsChanged(1023, 1536); });
        worker->start();
        QVERIFY(worker->wait(5000));
        delete worker;
        QTRY_COMPARE(label(panel, "lblDownload")->text(), QStringLiteral("1.5 KB"));
        QCOMPARE(label(panel, "lblUpload")->text(), QStringLiteral("1023 B"));

        // Queued even from the GUI thread: nothing changes before the loop runs.
        emit controller->statsChanged(1099511627776ULL, 1048575);
        QCOMPARE(label(panel, "lblUpload")->text(), QStringLiteral("1023 B"));
        QTRY_COMPARE(label(panel, "lblUpload")->text(), QStringLiteral("1.0 TB"));
        QCOMPARE(label(panel, "lblDownload")->text(), QStringLiteral("1024.0 KB"));
    }

    // A new tunnel counts from zero at once, not from the last session's
    // totals until its first statistics; that is no statistics update, so
    // no round trip is measured for it.
    void newTunnelStartsFromZero()
    {
        StatsIndicator panel;
        const auto controller = OpenConnectConnection::instance();
        emit controller->statsChanged(4096, 8192);
        emit controller->statusChanged(OpenConnectConnection::Disconnected);
        QTRY_COMPARE(label(panel, "lblUpload")->text(), QStringLiteral("4.0 KB"));
        const int runs = pingRuns().size();
        emit controller->statusChanged(OpenConnectConnection::Connecting);
        QTRY_COMPARE(label(panel, "lblDownload")->text(), QStringLiteral("0 B"));
        QCOMPARE(label(panel, "lblUpload")->text(), QStringLiteral("0 B"));
        QTest::qWait(50);
        QCOMPARE(pingRuns().size(), runs);
    }

    void roundTripOncePerRun()
    {
        // The run's first update measured the round trip: one ping, to the
        // active server's address without its port, its time shown.
        QCOMPARE(m_firstPing, QStringLiteral("45 ms"));
        QCOMPARE(m_firstRuns, QStringList({QStringLiteral("-c 1 -W 2 10.9.8.7")}));

        // A new panel (a second connection) and more updates: no new ping.
        const int runs = pingRuns().size();
        StatsIndicator panel;
        const auto controller = OpenConnectConnection::instance();
        emit controller->statsChanged(1, 2);
        emit controller->statsChanged(3, 4);
        QTRY_COMPARE(label(panel, "lblUpload")->text(), QStringLiteral("3 B"));
        // A ping would be queued with a zero timer behind the updates and runs
        // synchronously: a few turns of the event loop are enough to see one.
        QTest::qWait(50);
        QCOMPARE(pingRuns().size(), runs);
        QCOMPARE(label(panel, "lblPing")->text(), QStringLiteral("0"));
    }

    void pingNeverHoldsTheWindowLong()
    {
        const int runs = pingRuns().size();
        // A server address that looks like an option never reaches ping.
        QCOMPARE(measureRoundTrip(QStringLiteral("-f")), QStringLiteral("0 ms"));
        QCOMPARE(pingRuns().size(), runs);

        // A ping that never ends costs a few seconds, not the window.
        QFile hang(m_bin + QStringLiteral("/hang"));
        QVERIFY(hang.open(QIODevice::WriteOnly));
        hang.close();
        QElapsedTimer clock;
        clock.start();
        const QString hung = measureRoundTrip(QStringLiteral("10.9.8.7"));
        QVERIFY(hang.remove());
        QCOMPARE(hung, QStringLiteral("0 ms"));
        QVERIFY2(clock.elapsed() < 8000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(pingRuns().size(), runs + 1);
    }
};

int main(int argc, char **argv)
{
    QTemporaryDir bin;
    QTemporaryDir configHome;
    if (!bin.isValid() || !configHome.isValid())
        return 1;
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + qgetenv("PATH"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
    QApplication app(argc, argv);
    TestStatsIndicator test(bin.path());
    return QTest::qExec(&test, argc, argv);
}

#include "tst_statsindicator.moc"
