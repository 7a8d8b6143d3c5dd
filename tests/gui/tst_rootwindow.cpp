#include "child.h"
#include "messagecatcher.h"

#include "app/rootwindow.h"
#include "app/windowgeometry.h"
#include "backend/logincache.h"
#include "common/appinfo.h"
#include "common/config.h"
#include "common/gui/iconcache.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Varnel;

namespace {

QImage backgroundImage(const RootWindow &window)
{
    return window.palette().brush(QPalette::Active, QPalette::Window).texture().toImage();
}

// The picture drawn at the window's size.
QImage scaled(const char *picture, const QSize &size)
{
    return uncachedPicture(QLatin1String(picture), size).toImage();
}

QStringList pageNames(const QStackedWidget *stack)
{
    QStringList names;
    for (int i = 0; i < stack->count(); ++i)
        names << stack->widget(i)->objectName();
    return names;
}

// Runs the event loop until the application is told to quit (0) or the
// time runs out (1).
int loopUntilQuit(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, [&loop] { loop.exit(1); });
    return loop.exec();
}

} // namespace

class TestRootWindow : public QObject
{
    Q_OBJECT

    static QStackedWidget *stack(QWidget *parent, const char *name = "stackedWidget")
    {
        return child<QStackedWidget>(parent, name);
    }

private slots:
    // Every function starts logged out, without a cached login reply.
    void init()
    {
        QFile::remove(LoginCache::fileName());
        const auto config = Config::instance();
        config->setAutoLogin(false);
        config->setAutoConnect(false);
        config->save();
        config->saveState(0, 0);
    }

    void form()
    {
        RootWindow window(QStringLiteral("not"));
        QCOMPARE(window.objectName(), QStringLiteral("Varnel__RootWindow"));
        QCOMPARE(window.windowTitle(), applicationName());
        QVERIFY(window.isModal());
        QCOMPARE(window.size(), QSize(960, 680));
        // Page indexes are what the rest of the window switches on, and the
        // record of the logged-in area's page pair holds its stacks' indexes.
        QStackedWidget *pages = stack(&window);
        QCOMPARE(pageNames(pages), (QStringList{"autoLoginPage", "serverSelectionPage", "loginPage", "serverPage"}));
        QCOMPARE(pages->currentIndex(), 2);
        QCOMPARE(pageNames(stack(pages->widget(3))),
                 (QStringList{"serverSelectionPage", "menuPage", "myAccountPage", "supportPage", "toolsPage",
                              "referralRedeem", "varnelMorePage", "aboutUsPage", "referFriendPage", "settingPage",
                              "devicesPage", "redeemVoucherPage"}));
        QCOMPARE(pageNames(stack(pages->widget(3), "stackedWidget_2")), (QStringList{"connectPage", "purchasePage"}));
    }

    void launchMode_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("emptied");
        QTest::newRow("started with an argument") << "Yes" << true;
        QTest::newRow("plain start") << "not" << false;
        QTest::newRow("other spelling") << "yes" << false;
    }
    void launchMode()
    {
        QFETCH(QString, mode);
        QFETCH(bool, emptied);
        const QByteArray cached = "{\"status\": 1}";
        LoginCache::writeText(cached);
        RootWindow window(mode);
        QCOMPARE(LoginCache::readText(), emptied ? QByteArray() : cached);
    }

    void geometryAndBackground()
    {
        // Each half truncates on its own; (1367/2 - 1081/2) would differ by one.
        QCOMPARE(centredTopLeft(QSize(1367, 769), QSize(1081, 741)), QPoint(143, 14));
        QCOMPARE(centredTopLeft(QSize(800, 600), QSize(1080, 740)), QPoint(-140, -70));

        RootWindow window(QStringLiteral("not"));
        QVERIFY(QImage(":/img/white_background.png") != QImage(":/img/background.png"));
        fixMainWindowGeometry(&window);
        QCOMPARE(window.minimumSize(), QSize(1080, 740));
        QCOMPARE(window.maximumSize(), QSize(1080, 740));
        const Qt::WindowFlags hints = Qt::MSWindowsFixedSizeDialogHint | Qt::WindowMinimizeButtonHint
                                      | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint;
        QCOMPARE(window.windowFlags() & hints, hints);
        QVERIFY(window.windowFlags() & Qt::Dialog);   // the flags were added, not replaced
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        QCOMPARE(window.frameGeometry().topLeft(), centredTopLeft(screen, QSize(1080, 740)));
        QCOMPARE(window.size(), QSize(1080, 740));

        // Drawn when shown, at the size the window has then (a smaller picture would be tiled).
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(backgroundImage(window), scaled(":/img/white_background.png", QSize(1080, 740)));
        // The engine's status reaches the window through a queued connection.
        emit OpenConnectConnection::instance()->statusChanged(OpenConnectConnection::Connected);
        QTRY_COMPARE(backgroundImage(window), scaled(":/img/background.png", QSize(1080, 740)));
        emit OpenConnectConnection::instance()->statusChanged(OpenConnectConnection::Disconnecting);
        QTRY_COMPARE(backgroundImage(window), scaled(":/img/white_background.png", QSize(1080, 740)));
    }

    // This platform has no tray: closing and Escape minimise the window,
    // which stays within reach (hidden it could not be brought back); and
    // the shown root window blocks no other window (the tray icon, where
    // there is one, is a window of its own on X11).
    void closingAndEscapeMinimiseWithoutTray()
    {
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        QApplication::setQuitOnLastWindowClosed(false);
        bool quit = false;
        QObject listener;   // the connection ends with this function's frame
        connect(qApp, &QCoreApplication::aboutToQuit, &listener, [&quit] { quit = true; });
        RootWindow window(QStringLiteral("not"));
        for (const bool escape : {false, true}) {
            window.showNormal();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            if (escape)
                QTest::keyClick(&window, Qt::Key_Escape);
            else
                QVERIFY(!window.close());
            QVERIFY(window.isVisible());
            QVERIFY(window.isMinimized());
        }
        QTest::qWait(50);
        QVERIFY(!quit);

        window.showNormal();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QPushButton other(QStringLiteral("other"));
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&other));
        QSignalSpy clicked(&other, &QPushButton::clicked);
        // Through the window system, where a blocked window drops its input.
        QTest::mouseClick(other.windowHandle(), Qt::LeftButton, Qt::NoModifier, other.rect().center());
        QCOMPARE(clicked.size(), 1);
        QVERIFY(window.isModal());
    }

    void startPageFollowsLoggedInFlag()
    {
        RootWindow window(QStringLiteral("not"));
        QStackedWidget *pages = stack(&window);
        QList<int> visited;
        connect(pages, &QStackedWidget::currentChanged, this, [&visited](int index) { visited.append(index); });
        MessageCatcher boxes;

        // Logged in: through the automatic login. The test's backend address is
        // a closed port, so the attempt fails and the login page takes over.
        Config::instance()->setAutoLogin(true);
        window.show();
        QTRY_COMPARE(visited, (QList<int>{0, 2}));
        QTRY_COMPARE(boxes.texts(), QStringList{QStringLiteral("Could not connect to login server!")});

        // Brought back after a logout: straight to the login page.
        window.hide();
        visited.clear();
        Config::instance()->setAutoLogin(false);
        pages->setCurrentIndex(1);
        window.show();
        QTRY_COMPARE(pages->currentIndex(), 2);
        QCOMPARE(visited, (QList<int>{1, 2}));
    }

    void loginResultsSwitchPages_data()
    {
        QTest::addColumn<int>("firstState");
        QTest::addColumn<int>("secoundState");
        QTest::addColumn<bool>("autoConnect");
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("right");
        QTest::newRow("recorded pair") << 9 << 1 << false << 9 << 1;
        QTest::newRow("auto-connect: list and connect page") << 9 << 1 << true << 0 << 0;
        QTest::newRow("index without a page") << 12 << 2 << false << 4 << 1;
        QTest::newRow("negative index") << -1 << -1 << false << 4 << 1;
    }
    void loginResultsSwitchPages()
    {
        QFETCH(int, firstState);
        QFETCH(int, secoundState);
        QFETCH(bool, autoConnect);
        const auto config = Config::instance();
        config->setAutoConnect(autoConnect);
        config->save();
        RootWindow window(QStringLiteral("not"));
        QStackedWidget *pages = stack(&window);
        QStackedWidget *left = stack(pages->widget(3));
        QStackedWidget *right = stack(pages->widget(3), "stackedWidget_2");
        // Where the user was before: a bad record leaves the area there.
        left->setCurrentIndex(4);
        right->setCurrentIndex(1);
        config->saveState(firstState, secoundState);

        window.onLoginSuccessfull();
        QCOMPARE(pages->currentIndex(), 3);
        QTEST(left->currentIndex(), "left");
        QTEST(right->currentIndex(), "right");
        window.onLoginFailed();
        QCOMPARE(pages->currentIndex(), 2);
    }

    // The rows of the root window's wiring that relay or switch without a login.
    void relayedSignals()
    {
        RootWindow window(QStringLiteral("not"));
        QStackedWidget *pages = stack(&window);
        QWidget *ownList = pages->widget(1);
        QWidget *area = pages->widget(3);
        QSignalSpy filter(ownList, SIGNAL(filterChanged()));
        emit window.favouriteClick();
        QCOMPARE(filter.size(), 1);
        QSignalSpy connectClicks(area, SIGNAL(connectButtonClick()));
        emit window.connectClick();
        QCOMPARE(connectClicks.size(), 1);
        pages->setCurrentIndex(2);
        QVERIFY(QMetaObject::invokeMethod(ownList, "connectUiAndConnect"));
        QCOMPARE(pages->currentIndex(), 0);

        // A redeemed referral: the cached reply goes, the start page is chosen again.
        LoginCache::writeText("{\"response_code\": 1}");
        pages->setCurrentIndex(3);
        QVERIFY(QMetaObject::invokeMethod(area, "refreshLogin"));
        QCOMPARE(LoginCache::readText(), QByteArray());
        QCOMPARE(pages->currentIndex(), 2);
    }

    void quitWaitsForTheTunnelToGoDown()
    {
        {
            // Disconnected: at once.
            RootWindow window(QStringLiteral("not"));
            QTimer::singleShot(0, &window, [&window] { window.requestQuit(); });
            QCOMPARE(loopUntilQuit(2000), 0);
        }
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
        {
            RootWindow window(QStringLiteral("not"));
            QSignalSpy ready(&window, &RootWindow::readyToShutdown);
            // Connected: not before the tunnel is down, and once for two quits.
            window.onStatusChanged(OpenConnectConnection::Connecting);
            window.onStatusChanged(OpenConnectConnection::Connected);
            window.requestQuit();
            window.requestQuit();
            QCOMPARE(loopUntilQuit(200), 1);
            window.onStatusChanged(OpenConnectConnection::Disconnecting);
            QCOMPARE(loopUntilQuit(200), 1);
            QVERIFY(ready.isEmpty());
            QTimer::singleShot(0, &window, [&window] { window.onStatusChanged(OpenConnectConnection::Disconnected); });
            QCOMPARE(loopUntilQuit(2000), 0);
            QCOMPARE(ready.size(), 1);
        }
        // The quit left the event loops of this thread ending at once; the
        // application's own loop, run for a moment, clears that for the
        // functions that come after.
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
    }
};

int main(int argc, char *argv[])
{
    // Settings and the cached reply go to a throw-away place.
    QTemporaryDir sandbox;
    if (!sandbox.isValid())
        return 1;
    qputenv("HOME", sandbox.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (sandbox.path() + "/config").toLocal8Bit());
    qputenv("XDG_STATE_HOME", (sandbox.path() + "/state").toLocal8Bit());
    QApplication app(argc, argv);
    TestRootWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_rootwindow.moc"
