// The client as a native Wayland client: the test runs Debian's weston
// without a screen (headless backend) in a runtime folder of its own, and
// the window logs in through its login page against the reference backend.
// Skips, saying why, where weston or Qt's Wayland plugin is missing.
#include "backendpagetest.h"
#include "child.h"
#include "messagecatcher.h"

#include "app/rootwindow.h"
#include "app/windowgeometry.h"
#include "common/gui/showmessage.h"

#include <QApplication>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTreeWidget>
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
        if (!QFileInfo::exists(QLibraryInfo::location(QLibraryInfo::PluginsPath)
                               + QStringLiteral("/platforms/libqwayland-generic.so")))
            return QStringLiteral("Qt's Wayland platform plugin is missing (Debian package qtwayland5)");
        const QString weston = QStandardPaths::findExecutable(QStringLiteral("weston"));
        if (weston.isEmpty())
            return QStringLiteral("weston is not installed (Debian package weston)");
        QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        m_weston.setProcessEnvironment(env);
        m_weston.setProcessChannelMode(QProcess::MergedChannels);
        m_weston.start(weston, {QStringLiteral("--backend=headless-backend.so"), QStringLiteral("--use-pixman"),
                                QStringLiteral("--socket=%1").arg(QLatin1String(kSocket)),
                                QStringLiteral("--width=1280"), QStringLiteral("--height=800"),
                                QStringLiteral("--idle-time=0"), QStringLiteral("--no-config")});
        const QString socket = m_runtime.filePath(QLatin1String(kSocket));
        (void)QTest::qWaitFor([&] { return QFileInfo::exists(socket) || m_weston.state() == QProcess::NotRunning; }, 10000);
        if (!QFileInfo::exists(socket))
            return QStringLiteral("weston gave no socket: ") + m_weston.errorString() + QLatin1Char(' ')
                + QString::fromLocal8Bit(m_weston.readAll().right(400));
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

} // namespace

class WaylandTest : public BackendPageTest
{
    Q_OBJECT

private slots:
    // A login through the window, typed: refused first (the message box
    // over the window), then the logged-in area with its server list.
    void loginThroughTheWindow()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("wayland"));
        MessageCatcher boxes;
        RootWindow window(QStringLiteral("not"));
        fixMainWindowGeometry(&window);   // a position Wayland ignores, without complaint
        setMainWindow(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *root = child<QStackedWidget>(&window, "stackedWidget");
        QTRY_COMPARE(root->currentIndex(), 2);

        auto *password = child<QLineEdit>(root->currentWidget(), "editPassword");
        QTest::keyClicks(child<QLineEdit>(root->currentWidget(), "editUsername"), QStringLiteral("premium.user"));
        QTest::keyClicks(password, QStringLiteral("wrong"));
        QTest::keyClick(password, Qt::Key_Return);
        QTRY_COMPARE(boxes.texts(), QStringList{"Invalid username or password."});
        QCOMPARE(boxes.parents(), QList<QWidget *>{&window});   // a child window of the root window
        QCOMPARE(root->currentIndex(), 2);

        password->clear();
        QTest::keyClicks(password, QStringLiteral("premium-pass"));
        QTest::keyClick(password, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(root->currentIndex(), 3, 15000);
        auto *list = child<QTreeWidget>(root->currentWidget(), "treeServerList");
        QTRY_VERIFY(list->topLevelItemCount() > 0);
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
