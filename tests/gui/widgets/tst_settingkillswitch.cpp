#include "child.h"
#include "common/gui/iconcache.h"
#include "killswitchsandbox.h"
#include "messagecatcher.h"

#include "common/config.h"
#include "platform/datadir.h"
#include "vpn/killswitch.h"
#include "widgets/settingkillswitch/networkinterfacestate.h"
#include "widgets/settingkillswitch/settingkillswitch.h"

#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

using namespace Varnel;
using KillSwitch::Runner;

// The kill-switch row driven like a user would, and the connect page's
// script step, with stand-in scripts in a private data directory.
class TestSettingKillSwitch : public QObject
{
    Q_OBJECT
public:
    explicit TestSettingKillSwitch(const KillSwitchSandbox &sandbox) : m_sandbox(sandbox) {}

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

    QByteArray stateFile() const { return KillSwitchSandbox::readFile(m_sandbox.stateFile()); }

    const KillSwitchSandbox &m_sandbox;

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sandbox.isolated(), "the scripts must resolve to the private data directory");
        QVERIFY(switchPicture(true) != switchPicture(false));
    }

    void init()
    {
        QVERIFY(m_sandbox.writeRecordingScripts());
        m_sandbox.clearStarted();
        QFile::remove(m_sandbox.stateFile());
        const auto config = Config::instance();
        config->setKillSwitch(false);
        config->setConnectionState(false);
        config->save();
    }

    void showReadsTheStoredValue()
    {
        SettingKillSwitch row;
        Config::instance()->setKillSwitch(true);
        QTest::ignoreMessage(QtDebugMsg, "state:::: true");
        row.show();
        QTRY_COMPARE(shown(row), switchPicture(true));

        // Every show reads it again.
        row.hide();
        Config::instance()->setKillSwitch(false);
        QTest::ignoreMessage(QtDebugMsg, "state:::: false");
        row.show();
        QTRY_COMPARE(shown(row), switchPicture(false));
        QVERIFY(m_sandbox.started().isEmpty());
    }

    void onWhileConnectedRunsNoScript()
    {
        Config::instance()->setConnectionState(true);
        SettingKillSwitch row;
        QSignalSpy clicked(&row, &SettingKillSwitch::clicked);
        QTest::mousePress(&row, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));

        QCOMPARE(clicked.size(), 1);
        QCOMPARE(shown(row), switchPicture(true));
        QVERIFY(Config::instance()->killSwitch());
        QVERIFY(m_sandbox.storedKillSwitch());
        QCOMPARE(stateFile(), QByteArray("KillSwith:ON"));
        // The connect page applies it at the next disconnect.
        QVERIFY(m_sandbox.started().isEmpty());
    }

    void onThenOffWhileDisconnectedBlocksThenResets()
    {
        SettingKillSwitch row;
        row.show();
        QTest::ignoreMessage(QtDebugMsg, "state:::: false");
        QTRY_COMPARE(shown(row), switchPicture(false));

        QTest::ignoreMessage(QtDebugMsg, "bat file finished with exit code: 0");
        QTest::mousePress(&row, Qt::LeftButton, Qt::NoModifier, row.rect().center());
        QCOMPARE(m_sandbox.started(), QStringList({KillSwitch::scriptPath(Runner::Toggle, true)}));
        QCOMPARE(stateFile(), QByteArray("KillSwith:ON"));
        QVERIFY(m_sandbox.storedKillSwitch());

        QTest::ignoreMessage(QtDebugMsg, "bat file finished with exit code: 0");
        QTest::mousePress(&row, Qt::LeftButton, Qt::NoModifier, row.rect().center());
        QCOMPARE(m_sandbox.started(), QStringList({KillSwitch::scriptPath(Runner::Toggle, true),
                                                   KillSwitch::scriptPath(Runner::Toggle, false)}));
        QCOMPARE(shown(row), switchPicture(false));
        QVERIFY(!Config::instance()->killSwitch());
        QVERIFY(!m_sandbox.storedKillSwitch());

        // No line feed, and readable by the service under another account.
        QCOMPARE(stateFile(), QByteArray("KillSwith:OFF"));
        QVERIFY(QFile::permissions(m_sandbox.stateFile()).testFlag(QFile::ReadOther));
    }

    void connectPageReportsAMissingScript()
    {
        QWidget page;
        page.show();
        MessageCatcher boxes;
        m_sandbox.removeScripts();
        QVERIFY(m_sandbox.writeRecordingScript(resetScriptName()));
        applyNetworkInterfaceState(&page, true);
        QCOMPARE(boxes.titles(), QStringList{"File Error"});
        QCOMPARE(boxes.texts(), QStringList{"The  file does not exist."});
        QCOMPARE(boxes.parents(), QList<QWidget *>{&page});
        QVERIFY(m_sandbox.started().isEmpty());

        // A script that is there runs, without a box.
        applyNetworkInterfaceState(&page, false);
        QCOMPARE(boxes.texts().size(), 1);
        QCOMPARE(m_sandbox.started(), QStringList({KillSwitch::scriptPath(Runner::ConnectPage, false)}));
    }
};

int main(int argc, char **argv)
{
    // Before anything reads the settings or runs a script.
    KillSwitchSandbox sandbox;
    QApplication app(argc, argv);
    TestSettingKillSwitch test(sandbox);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingkillswitch.moc"
#include "common/gui/iconcache.h"
