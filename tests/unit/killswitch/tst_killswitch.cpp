#include "servicesandbox.h"
#include "support/debuglines.h"

#include "common/config.h"
#include "vpn/killswitch.h"

#include <QCoreApplication>
#include <QtTest>

using namespace Varnel;
using KillSwitch::Outcome;
using KillSwitch::Runner;

// The kill switch's runners, toggle and logout against the real service.
class TestKillSwitch : public QObject
{
    Q_OBJECT
public:
    explicit TestKillSwitch(ServiceSandbox &sandbox) : m_sandbox(sandbox) {}

private slots:
    void init()
    {
        QVERIFY(m_sandbox.running() || m_sandbox.start());
        QVERIFY(m_sandbox.restoreScripts());
        KillSwitch::runScript(Runner::Toggle, false);
        QVERIFY(!m_sandbox.blocking());
    }

    // Each step: runner, enable; then whether the machine is blocked and
    // what the state file says.
    void steps_data()
    {
        QTest::addColumn<QList<int>>("runners");
        QTest::addColumn<QList<bool>>("enables");
        QTest::addColumn<QList<bool>>("blocked");
        QTest::addColumn<QByteArray>("state");
        const int page = int(Runner::ConnectPage);
        const int toggle = int(Runner::Toggle);
        // Before a connect the page asks for the reset: the block stays (the
        // service lets the chosen server through), as it does after the
        // Disconnected that applied it.
        QTest::newRow("around a connection") << QList<int>{page, page, page} << QList<bool>{true, false, true}
                                             << QList<bool>{true, true, true} << QByteArray("KillSwith:ON");
        QTest::newRow("toggled on, then off") << QList<int>{toggle, toggle} << QList<bool>{true, false}
                                              << QList<bool>{true, false} << QByteArray("KillSwith:OFF");
    }

    void steps()
    {
        QFETCH(QList<int>, runners);
        QFETCH(QList<bool>, enables);
        QFETCH(QList<bool>, blocked);
        for (int i = 0; i < runners.size(); ++i) {
            QCOMPARE(KillSwitch::runScript(Runner(runners[i]), enables[i]), Outcome::Done);
            QCOMPARE(m_sandbox.blocking(), blocked[i]);
        }
        QFETCH(QByteArray, state);
        QCOMPARE(m_sandbox.stateFile(), state);
    }

    void failuresAreReported()
    {
        m_sandbox.removeScripts();
        QCOMPARE(KillSwitch::runScript(Runner::ConnectPage, true), Outcome::MissingScript);
        expectDebugLine("Error: bat file execution timed out or encountered an error.");
        QVERIFY(KillSwitch::runScript(Runner::Toggle, true) != Outcome::Done);
        QVERIFY(!m_sandbox.blocking());

        QVERIFY(m_sandbox.restoreScripts());
        m_sandbox.stop();
        QCOMPARE(KillSwitch::runScript(Runner::ConnectPage, true), Outcome::Failed);
    }

    void logout()
    {
        const auto config = Config::instance();
        // Off: no request, the switch stays off.
        config->setKillSwitch(false);
        KillSwitch::liftOnLogout();
        QVERIFY(!m_sandbox.blocking());

        // On: the block goes and the switch is off, also in the file.
        QVERIFY(KillSwitch::toggle());
        QVERIFY(m_sandbox.blocking() && m_sandbox.storedKillSwitch());
        expectDebugLine("bat file finished with exit code: 0");
        KillSwitch::liftOnLogout();
        QVERIFY(!m_sandbox.blocking());
        QVERIFY(!config->killSwitch() && !m_sandbox.storedKillSwitch());
        QCOMPARE(m_sandbox.stateFile(), QByteArray("KillSwith:OFF"));
    }

private:
    ServiceSandbox &m_sandbox;
};

VARNEL_SERVICE_TEST_MAIN(TestKillSwitch, QCoreApplication)

#include "tst_killswitch.moc"
