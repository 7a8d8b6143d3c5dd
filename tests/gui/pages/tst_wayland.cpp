// The client as a native Wayland client: the test runs Debian's weston
// without a screen (headless backend) in a runtime folder of its own, and
// the window logs in through its login page against the reference backend.
// What opens over the window (a message box, the toast, the share panel)
// comes up against it: Wayland lets no client place a window on the
// screen, so each is a child window of the root window (the compositor puts
// a dialog over its parent; the toast is a popup placed against it).
// Skips, saying why, where weston or Qt's Wayland plugin is missing.
#include "backendpagetest.h"
#include "child.h"

#include "app/rootwindow.h"
#include "app/windowgeometry.h"
#include "backend/user.h"
#include "common/gui/msgbox.h"
#include "common/gui/showmessage.h"
#include "widgets/sharepanel/sharepanel.h"
#include "widgets/toast/dialog.h"

#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QWindow>
#include <QtTest>

#include <cstdio>

using namespace Varnel;

namespace {

const char kSocket[] = "varnel-test";

// weston for this process, in a runtime folder of its own; ended with it.
class Weston
{
public:
    // Empty when the compositor runs and this process is its client; else why not.
    QString start()
    {
        const QString plugin = QLibraryInfo::location(QLibraryInfo::PluginsPath)
            + QStringLiteral("/platforms/libqwayland-generic.so");
        if (!QFileInfo::exists(plugin))
            return QStringLiteral("Qt's Wayland platform plugin is missing (Debian package qtwayland5)");
        const QString weston = QStandardPaths::findExecutable(QStringLiteral("weston"));
        if (weston.isEmpty())
            return QStringLiteral("weston is not installed (Debian package weston)");
        if (!m_runtime.isValid())
            return QStringLiteral("no temporary folder");
        QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        m_weston.setProcessEnvironment(env);
        m_weston.setProcessChannelMode(QProcess::MergedChannels);
        m_weston.start(weston, {QStringLiteral("--backend=headless-backend.so"), QStringLiteral("--use-pixman"),
                                QStringLiteral("--socket=%1").arg(QLatin1String(kSocket)),
                                QStringLiteral("--width=1280"), QStringLiteral("--height=800"),
                                QStringLiteral("--idle-time=0"), QStringLiteral("--no-config")});
        if (!m_weston.waitForStarted(5000))
            return QStringLiteral("weston did not start: ") + m_weston.errorString();
        const QString socket = m_runtime.filePath(QLatin1String(kSocket));
        const bool up = QTest::qWaitFor([&] { return QFileInfo::exists(socket) || m_weston.state() != QProcess::Running; },
                                        10000);
        if (!up || !QFileInfo::exists(socket))
            return QStringLiteral("weston gave no socket: ") + QString::fromLocal8Bit(m_weston.readAll().right(400));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
        qputenv("WAYLAND_DISPLAY", kSocket);
        qputenv("QT_QPA_PLATFORM", "wayland");
        return QString();
    }
    ~Weston()
    {
        m_weston.terminate();
        if (!m_weston.waitForFinished(3000))
            m_weston.kill();
        m_weston.waitForFinished(1000);
    }

private:
    QTemporaryDir m_runtime;
    QProcess m_weston;
};

// The modal message box that the window opens while f runs: exposed, a child
// window of the root window; its text, or why not.
QString answerBoxDuring(QWidget *root, const std::function<void()> &f)
{
    QString seen = QStringLiteral("no message box");
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, root, [&] {
        auto *box = root->findChild<MsgBox *>();
        if (!box || !box->isVisible())
            return;
        poll.stop();
        if (!QTest::qWaitForWindowExposed(box))
            seen = QStringLiteral("box not shown by the compositor");
        else if (box->windowHandle()->transientParent() != root->windowHandle())
            seen = QStringLiteral("box not a child window of the root window");
        else
            seen = box->text();
        box->buttons().constFirst()->click();
    });
    poll.start(20);
    f();
    return seen;
}

} // namespace

class WaylandTest : public BackendPageTest
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        BackendPageTest::initTestCase();
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("wayland"));
    }

    // A login through the window: refused first (the message box over the
    // window), then the logged-in area with its server list; over it the
    // toast and the share panel.
    void loginThroughTheWindow()
    {
        RootWindow window(QStringLiteral("not"));
        fixMainWindowGeometry(&window);   // a position Wayland ignores, without complaint
        setMainWindow(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *root = child<QStackedWidget>(&window, "stackedWidget");
        QTRY_COMPARE(root->currentIndex(), 2);

        QWidget *login = root->currentWidget();
        auto *user = child<QLineEdit>(login, "editUsername");
        auto *password = child<QLineEdit>(login, "editPassword");
        QTest::keyClicks(user, QStringLiteral("premium.user"));
        QTest::keyClicks(password, QStringLiteral("wrong"));
        QCOMPARE(answerBoxDuring(&window, [&] { QTest::keyClick(password, Qt::Key_Return); }),
                 QStringLiteral("Invalid username or password."));
        QCOMPARE(root->currentIndex(), 2);

        password->clear();
        QTest::keyClicks(password, QStringLiteral("premium-pass"));
        QTest::keyClick(password, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(root->currentIndex(), 3, 15000);
        auto *list = child<QTreeWidget>(root->currentWidget(), "treeServerList");
        QTRY_VERIFY(list->topLevelItemCount() > 0);
        QVERIFY(!User::instance()->bundles().isEmpty());

        // The toast: a popup against the window, which keeps the keyboard.
        QPointer<Dialog> toast = new Dialog(QStringLiteral("added to favorite locations"), &window);
        toast->show();
        QVERIFY(QTest::qWaitForWindowExposed(toast));
        QCOMPARE(toast->windowHandle()->type(), Qt::ToolTip);
        QCOMPARE(toast->windowHandle()->transientParent(), window.windowHandle());
        toast->close();

        // The share panel: a dialog over the window.
        SharePanel panel(QStringLiteral("VRNPREM01"), &window);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QCOMPARE(panel.windowHandle()->transientParent(), window.windowHandle());
    }
};

int main(int argc, char *argv[])
{
    // Static: QTest may end the process with exit(), and weston must go with it.
    static Weston weston;
    const QString reason = weston.start();
    if (!reason.isEmpty()) {
        std::fprintf(stderr, "Wayland test skipped: %s\n", qPrintable(reason));
        return 77;
    }
    QApplication app(argc, argv);
    WaylandTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_wayland.moc"
