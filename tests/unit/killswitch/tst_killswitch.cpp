#include "killswitchsandbox.h"
#include "support/debuglines.h"

#include "common/config.h"
#include "platform/datadir.h"
#include "vpn/killswitch.h"

#include <QCoreApplication>
#include <QtTest>

using namespace Varnel;
using KillSwitch::Runner;

// Paths, runners, state file and logout of the kill switch, with stand-in
// scripts in a private data directory.
class TestKillSwitch : public QObject
{
    Q_OBJECT
public:
    explicit TestKillSwitch(const KillSwitchSandbox &sandbox) : m_sandbox(sandbox) {}

private slots:
    void initTestCase();
    void init();
    void dataDirectory();
    void eachRunnerBuildsItsPath();
    void toggleRunnerResults();
    void logout();

private:
    const KillSwitchSandbox &m_sandbox;
};

void TestKillSwitch::initTestCase()
{
    QVERIFY2(m_sandbox.isolated(), "the scripts must resolve to the private data directory");
}

void TestKillSwitch::init()
{
    QVERIFY(m_sandbox.writeRecordingScripts());
    m_sandbox.clearStarted();
    QFile::remove(m_sandbox.stateFile());
}

void TestKillSwitch::dataDirectory()
{
    const QByteArray own = qgetenv("VARNELVPN_DATA_DIR");
    const auto restore = qScopeGuard([&] { qputenv("VARNELVPN_DATA_DIR", own); });

    qunsetenv("VARNELVPN_DATA_DIR");
    QCOMPARE(killSwitchDataDirectory(), QStringLiteral("/var/lib/VarnelVPN/"));
    QCOMPARE(killSwitchStateDirectory(), QStringLiteral("/var/lib/VarnelVPN/"));
    // With or without the separator, the connect page's direct append works.
    qputenv("VARNELVPN_DATA_DIR", "/opt/ks");
    QCOMPARE(killSwitchDataDirectory(), QStringLiteral("/opt/ks/"));
    qputenv("VARNELVPN_DATA_DIR", "/opt/ks/");
    QCOMPARE(killSwitchDataDirectory(), QStringLiteral("/opt/ks/"));
}

void TestKillSwitch::eachRunnerBuildsItsPath()
{
    const QString dir = m_sandbox.dataDir();
    // The scripts see the path they were started under.
    QVERIFY(KillSwitch::runScript(Runner::ConnectPage, true));
    QVERIFY(KillSwitch::runScript(Runner::ConnectPage, false));
    QVERIFY(KillSwitch::runScript(Runner::Toggle, true));
    QVERIFY(KillSwitch::runScript(Runner::Toggle, false));
    QCOMPARE(m_sandbox.started(), QStringList({dir + "/block_outbound_except_vpn.sh",
                                               dir + "/reset_firewall_rules.sh",
                                               dir + "//block_outbound_except_vpn.sh",
                                               dir + "//reset_firewall_rules.sh"}));

    // Only the connect page's runner looks before it starts.
    m_sandbox.removeScripts();
    QVERIFY(!KillSwitch::runScript(Runner::ConnectPage, true));
}

void TestKillSwitch::toggleRunnerResults()
{
    expectDebugLine("bat file finished with exit code: 0");
    QVERIFY(KillSwitch::runScript(Runner::Toggle, true)->succeeded());

    QVERIFY(m_sandbox.writeRecordingScript(blockScriptName(), 2));
    expectDebugLine("bat file finished with exit code: 2");
    QCOMPARE(KillSwitch::runScript(Runner::Toggle, true)->exitCode, 2);

    // Started regardless: a missing script is a start failure.
    m_sandbox.removeScripts();
    expectDebugLine("Error: bat file execution timed out or encountered an error.");
    const auto result = KillSwitch::runScript(Runner::Toggle, false);
    QVERIFY(result);
    QCOMPARE(result->outcome, ScriptResult::FailedToStart);
}

void TestKillSwitch::logout()
{
    const auto config = Config::instance();

    // Off: nothing runs, nothing is written but the setting.
    config->setKillSwitch(false);
    KillSwitch::liftOnLogout();
    QVERIFY(m_sandbox.started().isEmpty());
    QVERIFY(!QFile::exists(m_sandbox.stateFile()));

    // On: the toggle's runner lifts the block and the switch stays off.
    config->setKillSwitch(true);
    config->save();
    QVERIFY(m_sandbox.storedKillSwitch());
    expectDebugLine("bat file finished with exit code: 0");
    KillSwitch::liftOnLogout();
    QCOMPARE(m_sandbox.started(), QStringList({KillSwitch::scriptPath(Runner::Toggle, false)}));
    QVERIFY(!config->killSwitch());
    QVERIFY(!m_sandbox.storedKillSwitch());
    QCOMPARE(KillSwitchSandbox::readFile(m_sandbox.stateFile()), QByteArray("KillSwith:OFF"));
}

int main(int argc, char **argv)
{
    // Before anything reads the settings or runs a script.
    KillSwitchSandbox sandbox;
    QCoreApplication app(argc, argv);
    TestKillSwitch test(sandbox);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_killswitch.moc"
