#include "servicesandbox.h"

#include "vpn/killswitch.h"

#include <QCoreApplication>
#include <QtTest>

using namespace Varnel;
using KillSwitch::Outcome;

// What a request for the block comes to against the real service (the
// toggle, the connect page and logout drive it in the GUI tests).
class TestKillSwitch : public QObject
{
    Q_OBJECT
public:
    explicit TestKillSwitch(ServiceSandbox &sandbox) : m_sandbox(sandbox) {}

private slots:
    void outcome_data()
    {
        QTest::addColumn<bool>("scripts");
        QTest::addColumn<bool>("service");
        QTest::addColumn<int>("outcome");
        QTest::newRow("applied") << true << true << int(Outcome::Done);
        QTest::newRow("script missing") << false << true << int(Outcome::MissingScript);
        QTest::newRow("service not running") << true << false << int(Outcome::Failed);
    }

    void outcome()
    {
        QFETCH(bool, scripts);
        QFETCH(bool, service);
        QVERIFY(m_sandbox.running() || m_sandbox.start());
        QVERIFY(m_sandbox.restoreScripts());
        KillSwitch::runScript(KillSwitch::Runner::Toggle, false);
        if (!scripts)
            m_sandbox.removeScripts();
        if (!service)
            m_sandbox.stop();
        QTEST(int(KillSwitch::runScript(KillSwitch::Runner::ConnectPage, true)), "outcome");
        QCOMPARE(m_sandbox.blocking(), scripts && service);
    }

private:
    ServiceSandbox &m_sandbox;
};

VARNEL_SERVICE_TEST_MAIN(TestKillSwitch, QCoreApplication)

#include "tst_killswitch.moc"
