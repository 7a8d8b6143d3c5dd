// The small custom widgets: the statistics panel, with a stand-in ping first
// on PATH that records its arguments and answers with a real reply of this
// machine's ping (45.7 ms put in: loopback is faster); and the kill-switch
// row against the real service.
#include "child.h"
#include "messagecatcher.h"
#include "servicesandbox.h"
#include "support/debuglines.h"

#include "backend/user.h"
#include "common/config.h"
#include "common/gui/iconcache.h"
#include "vpn/killswitch.h"
#include "vpn/openconnectconnection.h"
#include "vpn/trafficformat.h"
#include "widgets/settingkillswitch/networkinterfacestate.h"
#include "widgets/settingkillswitch/settingkillswitch.h"
#include "widgets/statsindicator/statsindicator.h"

#include <QApplication>
#include <QLabel>
#include <QtTest>

using namespace Varnel;

class TestWidgets : public QObject
{
    Q_OBJECT
public:
    TestWidgets(ServiceSandbox &sandbox, const QString &bin) : m_sandbox(sandbox), m_bin(bin) {}

private:
    static QString text(StatsIndicator &panel, const char *name) { return child<QLabel>(&panel, name)->text(); }

    QStringList pingRuns() const
    {
        QFile record(m_bin + QStringLiteral("/runs.txt"));
        if (!record.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(record.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    static QImage switchPicture(bool on)
    {
        return cachedPicture(QStringLiteral(":/img/%1.png").arg(on ? 1 : 0), QSize(32, 32)).toImage();
    }
    static QImage shown(SettingKillSwitch &row)
    {
        return child<QLabel>(&row, "lblArrow")->pixmap(Qt::ReturnByValue).toImage();
    }

    ServiceSandbox &m_sandbox;
    const QString m_bin;
    // What the run's first statistics update (in initTestCase) showed and ran.
    QString m_firstPing;
    QStringList m_firstRuns;

private slots:
    void initTestCase()
    {
        QFile sample(QStringLiteral(PING_REPLY)), answer(m_bin + "/answer.txt"), ping(m_bin + "/ping");
        QVERIFY(sample.open(QIODevice::ReadOnly) && answer.open(QIODevice::WriteOnly) && ping.open(QIODevice::WriteOnly));
        answer.write(sample.readAll().replace("time=0.215", "time=45.7"));
        ping.write(QString("#!/bin/sh\necho \"$*\" >>'%1/runs.txt'\n[ -e '%1/hang' ] && sleep 30\ncat '%1/answer.txt'\n")
                       .arg(m_bin)
                       .toUtf8());
        answer.close();
        ping.close();
        QVERIFY(ping.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        // Two servers; the active one is the second, given with its port.
        auto bundle = [](int id, const char *ip) { return IPBundle::fromJson(QJsonObject{{"ip_id", id}, {"ip", ip}}); };
        User::instance()->setBundles({bundle(3, "10.9.8.1"), bundle(7, "10.9.8.7:1194")});
        Config::instance()->setActiveServer(7);

        // The round trip is measured once per run, on the run's first update:
        // make that update here, whichever test function runs.
        StatsIndicator panel;
        emit OpenConnectConnection::instance()->statsChanged(1, 1);
        QTRY_VERIFY(text(panel, "lblPing") != QStringLiteral("0"));
        m_firstPing = text(panel, "lblPing");
        m_firstRuns = pingRuns();
    }

    // Every update is shown, queued even from the GUI thread; a new tunnel
    // counts from zero at once. None of it measures the round trip again.
    void countersFollowTheTunnel()
    {
        QCOMPARE(m_firstPing, QStringLiteral("45 ms"));
        QCOMPARE(m_firstRuns, QStringList({QStringLiteral("-c 1 -W 2 10.9.8.7")}));
        StatsIndicator panel;
        const auto controller = OpenConnectConnection::instance();
        // From the session's thread, as the OpenConnect engine reports.
        std::unique_ptr<QThread> worker(QThread::create([&] { emit controller->statsChanged(1023, 1536); }));
        worker->start();
        QVERIFY(worker->wait(5000));
        QTRY_COMPARE(text(panel, "lblDownload"), QStringLiteral("1.5 KB"));
        QCOMPARE(text(panel, "lblUpload"), QStringLiteral("1023 B"));

        emit controller->statsChanged(1099511627776ULL, 1048575);
        QCOMPARE(text(panel, "lblUpload"), QStringLiteral("1023 B"));
        QTRY_COMPARE(text(panel, "lblUpload"), QStringLiteral("1.0 TB"));
        QCOMPARE(text(panel, "lblDownload"), QStringLiteral("1024.0 KB"));

        emit controller->statusChanged(OpenConnectConnection::Connecting);
        QTRY_COMPARE(text(panel, "lblDownload"), QStringLiteral("0 B"));
        QCOMPARE(text(panel, "lblUpload"), QStringLiteral("0 B"));
        QTest::qWait(50);   // a ping would be queued behind the updates
        QCOMPARE(pingRuns(), m_firstRuns);
        QCOMPARE(text(panel, "lblPing"), QStringLiteral("0"));
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

    // The kill-switch row shows the stored value, read again at every show;
    // presses switch it, with or without a tunnel up: the service applies
    // the block at once (a tunnel that is up is let through) and lifts it.
    void killSwitchRow_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("connected");
        QTest::newRow("off, disconnected") << false << false;
        QTest::newRow("on, connected") << true << true;
    }

    void killSwitchRow()
    {
        QFETCH(bool, stored);
        QFETCH(bool, connected);
        const auto config = Config::instance();
        config->setKillSwitch(!stored);
        config->setConnectionState(connected);
        SettingKillSwitch row;
        row.show();
        QTRY_COMPARE(shown(row), switchPicture(!stored));
        row.hide();
        config->setKillSwitch(stored);
        expectDebugLine(stored ? "state:::: true" : "state:::: false");
        row.show();
        QTRY_COMPARE(shown(row), switchPicture(stored));
        QVERIFY(!m_sandbox.blocking());
        for (const bool on : {!stored, stored}) {
            expectDebugLine("bat file finished with exit code: 0");
            QTest::mousePress(&row, Qt::LeftButton, Qt::NoModifier, row.rect().center());
            QCOMPARE(shown(row), switchPicture(on));
            QCOMPARE(config->killSwitch(), on);
            QCOMPARE(m_sandbox.storedKillSwitch(), on);
            QCOMPARE(m_sandbox.blocking(), on);
            QCOMPARE(m_sandbox.stateFile(), on ? QByteArray("KillSwith:ON") : QByteArray("KillSwith:OFF"));
        }
        KillSwitch::runScript(KillSwitch::Runner::Toggle, false);
    }

    // The connect page's script step: a missing script is told over the
    // page; scripts that are there run without a box.
    void missingScriptIsTold()
    {
        QWidget page;
        page.show();
        MessageCatcher boxes;
        m_sandbox.removeScripts();
        applyNetworkInterfaceState(&page, true);
        QCOMPARE(boxes.titles(), QStringList{"File Error"});
        QCOMPARE(boxes.texts(), QStringList{"The  file does not exist."});
        QCOMPARE(boxes.parents(), QList<QWidget *>{&page});
        QVERIFY(!m_sandbox.blocking());
        QVERIFY(m_sandbox.restoreScripts());
        applyNetworkInterfaceState(&page, true);
        QCOMPARE(boxes.texts().size(), 1);
        QVERIFY(m_sandbox.blocking());
        KillSwitch::runScript(KillSwitch::Runner::Toggle, false);
    }
};

int main(int argc, char **argv)
{
    if (const int skip = ServiceSandbox::enterNamespace())
        return skip;
    ServiceSandbox sandbox;   // before anything reads the settings
    QTemporaryDir bin;
    if (!bin.isValid())
        return 1;
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + qgetenv("PATH"));
    QApplication app(argc, argv);
    TestWidgets test(sandbox, bin.path());
    return QTest::qExec(&test, argc, argv);
}

#include "tst_widgets.moc"
