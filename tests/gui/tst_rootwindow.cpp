#include "messagecatcher.h"

#include "app/rootwindow.h"
#include "app/windowgeometry.h"
#include "common/appinfo.h"
#include "common/config.h"

#include <QApplication>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>

using Varnel::OpenConnectConnection;
using Varnel::RootWindow;

class TestRootWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void form();
    void launchMode_data();
    void launchMode();
    void geometry();
    void background();
    void closingAndEscapeOnlyHide();
    void startPageFollowsLoggedInFlag();
    void loginResultsSwitchPages_data();
    void loginResultsSwitchPages();
    void otherWindowsStayUsable();
    void relayedSignals();
    void quitWaitsForTheTunnelToGoDown();

private:
    static QStackedWidget *stack(RootWindow &window)
    {
        return window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    }
    static QImage backgroundImage(const RootWindow &window)
    {
        return window.palette().brush(QPalette::Active, QPalette::Window).texture().toImage();
    }
};

// Every function starts logged out, without a cached login reply.
void TestRootWindow::init()
{
    QFile::remove(QStringLiteral("bundile"));
    auto config = Varnel::Config::instance();
    config->setAutoLogin(false);
    config->setAutoConnect(false);
    config->save();
    config->saveState(0, 0);
}

void TestRootWindow::form()
{
    RootWindow window(QStringLiteral("not"));
    QCOMPARE(window.objectName(), QStringLiteral("Varnel__RootWindow"));
    QCOMPARE(window.windowTitle(), Varnel::applicationName());
    QVERIFY(window.isModal());
    QCOMPARE(window.size(), QSize(960, 680));

    // Page indexes are what the rest of the window switches on.
    QStackedWidget *pages = stack(window);
    QVERIFY(pages);
    const QStringList expected = {"autoLoginPage", "serverSelectionPage", "loginPage", "serverPage"};
    QStringList names;
    for (int i = 0; i < pages->count(); ++i)
        names << pages->widget(i)->objectName();
    QCOMPARE(names, expected);
    QCOMPARE(pages->currentIndex(), 2);

    // The logged-in area's stacks: the record of the page pair holds these indexes.
    const auto childNames = [](const QStackedWidget *stack) {
        QStringList names;
        for (int i = 0; stack && i < stack->count(); ++i)
            names << stack->widget(i)->objectName();
        return names;
    };
    QWidget *area = pages->widget(3);
    QCOMPARE(area->objectName(), QStringLiteral("serverPage"));
    QCOMPARE(childNames(area->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"))),
             (QStringList{"serverSelectionPage", "menuPage", "myAccountPage", "supportPage", "toolsPage",
                          "referralRedeem", "varnelMorePage", "aboutUsPage", "referFriendPage", "settingPage",
                          "devicesPage", "redeemVoucherPage"}));
    QCOMPARE(childNames(area->findChild<QStackedWidget *>(QStringLiteral("stackedWidget_2"))),
             (QStringList{"connectPage", "purchasePage"}));
}

void TestRootWindow::launchMode_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("emptied");
    QTest::newRow("started with an argument") << "Yes" << true;
    QTest::newRow("plain start") << "not" << false;
    QTest::newRow("other spelling") << "yes" << false;
}

void TestRootWindow::launchMode()
{
    QFETCH(QString, mode);
    QFETCH(bool, emptied);

    const QByteArray cached = "{\"status\": 1}";
    QFile bundle(QStringLiteral("bundile"));
    QVERIFY(bundle.open(QIODevice::WriteOnly | QIODevice::Truncate));
    bundle.write(cached);
    bundle.close();

    RootWindow window(mode);

    QVERIFY(bundle.open(QIODevice::ReadOnly));
    QCOMPARE(bundle.readAll(), emptied ? QByteArray() : cached);
}

void TestRootWindow::geometry()
{
    // Each half truncates on its own; (1367/2 - 1081/2) would differ by one.
    QCOMPARE(Varnel::centredTopLeft(QSize(1367, 769), QSize(1081, 741)), QPoint(143, 14));
    QCOMPARE(Varnel::centredTopLeft(QSize(800, 600), QSize(1080, 740)), QPoint(-140, -70));

    RootWindow window(QStringLiteral("not"));
    Varnel::fixMainWindowGeometry(&window);
    QCOMPARE(window.minimumSize(), QSize(1080, 740));
    QCOMPARE(window.maximumSize(), QSize(1080, 740));
    const Qt::WindowFlags hints = Qt::MSWindowsFixedSizeDialogHint | Qt::WindowMinimizeButtonHint
        | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint;
    QCOMPARE(window.windowFlags() & hints, hints);
    QVERIFY(window.windowFlags() & Qt::Dialog);   // the flags were added, not replaced

    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    QCOMPARE(window.frameGeometry().topLeft(), Varnel::centredTopLeft(screen, QSize(1080, 740)));
    QCOMPARE(window.size(), QSize(1080, 740));
}

void TestRootWindow::background()
{
    RootWindow window(QStringLiteral("not"));
    const QImage white = QImage(":/img/white_background.png");
    const QImage coloured = QImage(":/img/background.png");
    QVERIFY(!white.isNull());
    QVERIFY(!coloured.isNull());
    QVERIFY(white != coloured);

    auto scaled = [](const QImage &image, const QSize &size) {
        return QPixmap::fromImage(image).scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation).toImage();
    };
    QCOMPARE(backgroundImage(window), scaled(white, QSize(960, 680)));

    // Growing the window must not leave a smaller picture to be tiled.
    Varnel::fixMainWindowGeometry(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(backgroundImage(window).size(), QSize(1080, 740));

    // The engine's status reaches the window through a queued connection.
    emit OpenConnectConnection::instance()->statusChanged(OpenConnectConnection::Connected);
    QTRY_COMPARE(backgroundImage(window), scaled(coloured, QSize(1080, 740)));
    emit OpenConnectConnection::instance()->statusChanged(OpenConnectConnection::Disconnecting);
    QTRY_COMPARE(backgroundImage(window), scaled(white, QSize(1080, 740)));
}

void TestRootWindow::closingAndEscapeOnlyHide()
{
    QApplication::setQuitOnLastWindowClosed(false);
    bool quit = false;
    connect(qApp, &QCoreApplication::aboutToQuit, this, [&quit] { quit = true; });

    RootWindow window(QStringLiteral("not"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.close());
    QVERIFY(!window.isVisible());

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::keyClick(&window, Qt::Key_Escape);
    QVERIFY(!window.isVisible());

    QTest::qWait(50);
    QVERIFY(!quit);
    window.show();
    QVERIFY(window.isVisible());
}

void TestRootWindow::startPageFollowsLoggedInFlag()
{
    auto config = Varnel::Config::instance();
    RootWindow window(QStringLiteral("not"));
    QStackedWidget *pages = stack(window);
    QList<int> visited;
    connect(pages, &QStackedWidget::currentChanged, this, [&visited](int index) { visited.append(index); });
    MessageCatcher boxes;

    // Logged in: through the automatic login. The test's backend address is
    // a closed port, so the attempt fails and the login page takes over.
    config->setAutoLogin(true);
    window.show();
    QTRY_COMPARE(visited, (QList<int>{0, 2}));
    QTRY_COMPARE(boxes.texts(), QStringList{QStringLiteral("Could not connect to login server!")});

    // Brought back after a logout: straight to the login page.
    window.hide();
    visited.clear();
    config->setAutoLogin(false);
    pages->setCurrentIndex(1);
    window.show();
    QTRY_COMPARE(pages->currentIndex(), 2);
    QCOMPARE(visited, (QList<int>{1, 2}));
}

// The tray icon is a window of its own on X11: the shown root window must not
// block input to the application's other windows.
void TestRootWindow::otherWindowsStayUsable()
{
    RootWindow window(QStringLiteral("not"));
    window.show();
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

void TestRootWindow::loginResultsSwitchPages_data()
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

void TestRootWindow::loginResultsSwitchPages()
{
    QFETCH(int, firstState);
    QFETCH(int, secoundState);
    QFETCH(bool, autoConnect);
    QFETCH(int, left);
    QFETCH(int, right);
    auto config = Varnel::Config::instance();
    config->setAutoConnect(autoConnect);
    config->save();

    RootWindow window(QStringLiteral("not"));
    QStackedWidget *pages = stack(window);
    auto *leftStack = pages->widget(3)->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    auto *rightStack = pages->widget(3)->findChild<QStackedWidget *>(QStringLiteral("stackedWidget_2"));
    // Where the user was before: a bad record leaves the area there.
    leftStack->setCurrentIndex(4);
    rightStack->setCurrentIndex(1);
    config->saveState(firstState, secoundState);

    window.onLoginSuccessfull();
    QCOMPARE(pages->currentIndex(), 3);
    QCOMPARE(leftStack->currentIndex(), left);
    QCOMPARE(rightStack->currentIndex(), right);
    window.onLoginFailed();
    QCOMPARE(pages->currentIndex(), 2);

    config->setAutoConnect(false);
    config->save();
    config->saveState(0, 0);
}

// Runs the event loop until the application is told to quit (0) or the
// time runs out (1); -1 once the application has quit.
static int loopUntilQuit(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, [&loop] { loop.exit(1); });
    return loop.exec();
}

// The rows of the root window's wiring that relay or switch without a login.
void TestRootWindow::relayedSignals()
{
    RootWindow window(QStringLiteral("not"));
    QStackedWidget *pages = stack(window);
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
    QFile bundle(QStringLiteral("bundile"));
    QVERIFY(bundle.open(QIODevice::WriteOnly));
    bundle.write("{\"response_code\": 1}");
    bundle.close();
    pages->setCurrentIndex(3);
    QVERIFY(QMetaObject::invokeMethod(area, "refreshLogin"));
    QCOMPARE(QFileInfo(bundle).size(), 0);
    QCOMPARE(pages->currentIndex(), 2);
}

void TestRootWindow::quitWaitsForTheTunnelToGoDown()
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

        // Connected: not before the tunnel is down.
        window.onStatusChanged(Varnel::OpenConnectConnection::Connecting);
        window.onStatusChanged(Varnel::OpenConnectConnection::Connected);
        window.requestQuit();
        window.requestQuit();
        QCOMPARE(loopUntilQuit(200), 1);
        window.onStatusChanged(Varnel::OpenConnectConnection::Disconnecting);
        QCOMPARE(loopUntilQuit(200), 1);
        QVERIFY(ready.isEmpty());
        QTimer::singleShot(0, &window, [&window] { window.onStatusChanged(Varnel::OpenConnectConnection::Disconnected); });
        QCOMPARE(loopUntilQuit(2000), 0);
        QCOMPARE(ready.size(), 1);
    }
    // The quit left the event loops of this thread ending at once; the
    // application's own loop, run for a moment, clears that for the
    // functions that come after.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
}

int main(int argc, char *argv[])
{
    // Settings and the cached reply go to a throw-away place.
    QTemporaryDir sandbox;
    if (!sandbox.isValid())
        return 1;
    qputenv("HOME", sandbox.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (sandbox.path() + "/config").toLocal8Bit());
    QDir::setCurrent(sandbox.path());

    QApplication app(argc, argv);
    TestRootWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_rootwindow.moc"
