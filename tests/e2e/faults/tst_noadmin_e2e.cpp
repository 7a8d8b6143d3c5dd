// Without the right to create tunnels (no CAP_NET_ADMIN, as an ordinary user
// has it), a connect through the window ends in Disconnected with a message
// that says to run the program as root, for both protocols.
#include "engine/enginelab.h"
#include "faultlab.h"
#include "labfixture.h"

#include "vpn/openconnectconnection.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

using namespace Varnel;
using namespace Varnel::FaultLab;
using Connection = OpenConnectConnection;

namespace {

bool g_dropped = false;

} // namespace

class TestWithoutAdministratorRights : public QObject
{
    Q_OBJECT

    RefBackendProcess m_backend;
    QTemporaryDir m_files;
    std::unique_ptr<LoggedInWindow> m_window;

private slots:
    void initTestCase()
    {
        if (!Lab::inside())
            QSKIP("needs the lab (root, network namespaces): run through tools/lab/run-in-lab.sh");
        QVERIFY(g_dropped);
        QVERIFY2(startBackend(m_backend, {}, m_files.filePath(QStringLiteral("data.json"))),
                 qPrintable(m_backend.errorText()));
        m_window = std::make_unique<LoggedInWindow>();
        QString error;
        QVERIFY2(m_window->open(m_backend, &error), qPrintable(error));
    }
    void cleanupTestCase() { m_window.reset(); }

    void toldToRunAsRoot_data()
    {
        QTest::addColumn<int>("serverId");
        QTest::newRow("OpenVPN") << kOpenVpn;
        QTest::newRow("OpenConnect") << kOcserv;
    }
    void toldToRunAsRoot()
    {
        QFETCH(int, serverId);
        m_window->press(serverId);
        // (OpenConnect reports Connected before it makes the device, then Disconnected.)
        QTRY_COMPARE_WITH_TIMEOUT(m_window->messages().size(), 1, 30000);
        QVERIFY2(m_window->messages().first().startsWith(
                     QStringLiteral("Creating a VPN tunnel needs administrator rights. Start VarnelVPN as root")),
                 qPrintable(m_window->messages().first()));
        QCOMPARE(m_window->pageStatus(), int(Connection::Disconnected));
        QCOMPARE(m_window->protection(), QStringLiteral("Not Protected"));
        QVERIFY(m_window->disconnectAndSettle());
        QCOMPARE(tunnelDevice(), QString());
    }
};

int main(int argc, char *argv[])
{
    // First of all, while this is the only thread.
    g_dropped = !Lab::inside() || EngineLab::dropNetworkAdmin();
    QApplication app(argc, argv);
    TestWithoutAdministratorRights test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_noadmin_e2e.moc"
