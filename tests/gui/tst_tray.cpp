// The tray icon and its menu as the window system shows them: a display of
// the test's own (Xvfb) with a system tray (trayer), both ended by the test.
#include "app/rootwindow.h"
#include "app/trayicon.h"
#include "common/config.h"
#include "common/gui/iconcache.h"

#include <QApplication>
#include <QMenu>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>

using namespace Varnel;

class TestTray : public QObject
{
    Q_OBJECT
private slots:
    // Icon and "Connect" entry follow the tunnel; logged out there is nothing to connect.
    void followsTheTunnel_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("loggedIn");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("connecting") << int(OpenConnectConnection::Connecting) << true << ":/img/connecting.png"
                                    << "Connect" << false;
        QTest::newRow("connected") << int(OpenConnectConnection::Connected) << true << ":/img/connected.png"
                                   << "Disconnect" << true;
        QTest::newRow("disconnected, logged in") << int(OpenConnectConnection::Disconnected) << true
                                                 << ":/img/200.png" << "Connect" << true;
        QTest::newRow("disconnected, logged out") << int(OpenConnectConnection::Disconnected) << false
                                                  << ":/img/200.png" << "Connect" << false;
    }
    void followsTheTunnel()
    {
        QFETCH(int, status);
        QFETCH(bool, loggedIn);
        QFETCH(QString, icon);
        Config::instance()->setAutoLogin(loggedIn);
        Config::instance()->save();
        RootWindow window(QStringLiteral("not"));
        auto *tray = window.findChild<QSystemTrayIcon *>();
        QVERIFY(tray && tray->isVisible());
        const QList<QAction *> actions = tray->contextMenu()->actions();
        QCOMPARE(actions.at(1)->text(), QStringLiteral("Quit"));
        QSignalSpy clicks(&window, &RootWindow::connectClick);
        actions.at(0)->trigger();
        QCOMPARE(clicks.size(), 1);

        window.onStatusChanged(status);
        QTEST(actions.at(0)->text(), "text");
        QTEST(actions.at(0)->isEnabled(), "enabled");
        QCOMPARE(tray->icon().pixmap(32).toImage(), cachedIcon(icon).pixmap(32).toImage());
    }

    // With a tray, closing (like Escape, a rejection of the dialog) hides
    // the window into it; the notice of a connection names the server
    // after two blanks.
    void closingHidesIntoTheTray()
    {
        RootWindow window(QStringLiteral("not"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.close());
        QVERIFY(!window.isVisible() && !window.isMinimized());
        QCOMPARE(connectedNotice(QStringLiteral("Frankfurt")), QStringLiteral("You are connected to  Frankfurt"));
    }
};

// A display with a tray for this process (Xvfb and trayer), ended with it.
struct TrayDisplay {
    QProcess xvfb, trayer;
    bool start()
    {
        xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
        if (!xvfb.waitForStarted(5000) || !xvfb.waitForReadyRead(10000))
            return false;
        qputenv("DISPLAY", ":" + xvfb.readAllStandardOutput().trimmed());
        qputenv("QT_QPA_PLATFORM", "xcb");
        trayer.start(QStringLiteral("trayer"), {"--edge", "top"});
        return trayer.waitForStarted(5000);
    }
    ~TrayDisplay()
    {
        for (QProcess *process : {&trayer, &xvfb}) {
            process->terminate();
            if (!process->waitForFinished(3000))
                process->kill();
            process->waitForFinished(1000);
        }
    }
};

int main(int argc, char *argv[])
{
    QTemporaryDir sandbox;
    qputenv("XDG_CONFIG_HOME", (sandbox.path() + "/config").toLocal8Bit());
    qputenv("XDG_STATE_HOME", (sandbox.path() + "/state").toLocal8Bit());
    // Static: QTest may end the process with exit() (e.g. -functions), and
    // the display must go with it all the same.
    static TrayDisplay display;
    if (!display.start()) {
        std::fprintf(stderr, "no Xvfb or trayer: tray checks skipped\n");
        return 77;
    }
    QApplication app(argc, argv);
    // The tray takes a moment to claim its selection on a fresh display.
    (void)QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10000);
    TestTray test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tray.moc"
