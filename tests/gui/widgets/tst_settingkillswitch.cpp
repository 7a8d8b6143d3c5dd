#include "child.h"
#include "servicesandbox.h"
#include "support/debuglines.h"
#include "messagecatcher.h"

#include "common/config.h"
#include "common/gui/iconcache.h"
#include "vpn/killswitch.h"
#include "widgets/settingkillswitch/networkinterfacestate.h"
#include "widgets/settingkillswitch/settingkillswitch.h"

#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

using namespace Varnel;

// The kill-switch row driven like a user would, and the connect page's
// script step, against the real service.
class TestSettingKillSwitch : public QObject
{
    Q_OBJECT
public:
    explicit TestSettingKillSwitch(ServiceSandbox &sandbox) : m_sandbox(sandbox) {}

private:
    static QImage switchPicture(bool on)
    {
        return cachedPicture(on ? QStringLiteral(":/img/1.png") : QStringLiteral(":/img/0.png"), QSize(32, 32))
            .toImage();
    }

    static QImage shown(SettingKillSwitch &row)
    {
        return child<QLabel>(&row, "lblArrow")->pixmap(Qt::ReturnByValue).toImage();
    }

    ServiceSandbox &m_sandbox;

private slots:
    void initTestCase()
    {
        QVERIFY(switchPicture(true) != switchPicture(false));
    }

    void init()
    {
        QVERIFY(m_sandbox.restoreScripts());
        KillSwitch::runScript(KillSwitch::Runner::Toggle, false);
        const auto config = Config::instance();
        config->setKillSwitch(false);
        config->setConnectionState(false);
        config->save();
    }

    void showReadsTheStoredValue()
    {
        SettingKillSwitch row;
        Config::instance()->setKillSwitch(true);
        expectDebugLine("state:::: true");
        row.show();
        QTRY_COMPARE(shown(row), switchPicture(true));

        // Every show reads it again.
        row.hide();
        Config::instance()->setKillSwitch(false);
        expectDebugLine("state:::: false");
        row.show();
        QTRY_COMPARE(shown(row), switchPicture(false));
        QVERIFY(!m_sandbox.blocking());
    }

    // On and off by presses, with or without a tunnel up: the service applies
    // the block at once (a tunnel that is up is let through) and lifts it.
    void pressesSwitchTheBlock_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::newRow("disconnected") << false;
        QTest::newRow("connected") << true;
    }

    void pressesSwitchTheBlock()
    {
        QFETCH(bool, connected);
        Config::instance()->setConnectionState(connected);
        SettingKillSwitch row;
        QSignalSpy clicked(&row, &SettingKillSwitch::clicked);
        for (const bool on : {true, false}) {
            expectDebugLine("bat file finished with exit code: 0");
            QTest::mousePress(&row, Qt::LeftButton, Qt::NoModifier, row.rect().center());
            QCOMPARE(shown(row), switchPicture(on));
            QCOMPARE(Config::instance()->killSwitch(), on);
            QCOMPARE(m_sandbox.storedKillSwitch(), on);
            QCOMPARE(m_sandbox.blocking(), on);
            QCOMPARE(m_sandbox.stateFile(), on ? QByteArray("KillSwith:ON") : QByteArray("KillSwith:OFF"));
        }
        QCOMPARE(clicked.size(), 2);
    }

    void connectPageReportsAMissingScript()
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

        // Scripts that are there run, without a box.
        QVERIFY(m_sandbox.restoreScripts());
        applyNetworkInterfaceState(&page, true);
        QCOMPARE(boxes.texts().size(), 1);
        QVERIFY(m_sandbox.blocking());
    }
};

VARNEL_SERVICE_TEST_MAIN(TestSettingKillSwitch, QApplication)

#include "tst_settingkillswitch.moc"
