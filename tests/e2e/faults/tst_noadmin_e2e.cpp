// Without the right to create tunnels (no CAP_NET_ADMIN, as an ordinary user
// has it), a connect through the window ends in Disconnected with a message
// that says to run the program as root, for both protocols.
#include "faultlab.h"
#include "labfixture.h"

#include "vpn/openconnectconnection.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace Varnel;
using namespace Varnel::FaultLab;
using Connection = OpenConnectConnection;

namespace {

// Takes CAP_NET_ADMIN away from this process for good (capabilities are
// per thread: before any other thread exists), so that neither the
// OpenConnect session's thread nor the OpenVPN it starts (as root) has it.
bool dropNetworkAdmin()
{
    if (prctl(PR_CAPBSET_DROP, CAP_NET_ADMIN, 0, 0, 0) != 0)
        return false;
    __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] {};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    const unsigned bit = 1u << (CAP_NET_ADMIN % 32);
    auto &word = data[CAP_NET_ADMIN / 32];
    word.effective &= ~bit;
    word.permitted &= ~bit;
    word.inheritable &= ~bit;
    return syscall(SYS_capset, &header, data) == 0;
}

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
            QSKIP("needs the lab (root, network namespaces): run through tests/e2e/lab/run-in-lab.sh");
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
    g_dropped = !Lab::inside() || dropNetworkAdmin();
    QApplication app(argc, argv);
    TestWithoutAdministratorRights test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_noadmin_e2e.moc"
