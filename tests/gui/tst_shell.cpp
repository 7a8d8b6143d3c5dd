// The root window and the logged-in area with the real service and a
// stand-in OpenVPN program, and the shell's small widgets (quick-connect
// buttons, statistics with a stand-in ping, kill-switch row, message boxes).
#include "child.h"
#include "messagecatcher.h"
#include "servicesandbox.h"

#include "app/rootwindow.h"
#include "app/serverpage.h"
#include "app/singleinstance.h"
#include "app/windowgeometry.h"
#include "backend/logincache.h"
#include "backend/user.h"
#include "common/appinfo.h"
#include "common/config.h"
#include "common/gui/iconcache.h"
#include "common/gui/msgbox.h"
#include "common/gui/overlay.h"
#include "common/gui/showmessage.h"
#include "pages/connect/connectpage.h"
#include "vpn/killswitch.h"
#include "vpn/openvpnrunner.h"
#include "vpn/trafficformat.h"
#include "widgets/quickconnect/fastestserverbutton.h"
#include "widgets/quickconnect/recommendedserverbutton.h"
#include "widgets/quickconnect/serverbutton.h"
#include "widgets/settingkillswitch/networkinterfacestate.h"
#include "widgets/settingkillswitch/settingkillswitch.h"
#include "widgets/statsindicator/statsindicator.h"

#include <QApplication>
#include <QJsonObject>
#include <QLabel>
#include <QLocalSocket>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QtTest>

#include <memory>

using namespace Varnel;

namespace {

enum Feature { Plain = 0, Fast = 1, Gaming = 2, Streaming = 4 };

std::shared_ptr<IPBundle> server(int id, const QString &country, const QString &ip, int features = Plain,
                                 const QByteArray &config = "remote remoteIP remotePort\n")
{
    return IPBundle::fromJson(QJsonObject{
        {"ip_id", id}, {"ipName", QStringLiteral("%1 %2").arg(country).arg(id)}, {"countryName", country},
        {"countryCode", "276"}, {"ip", ip}, {"type", 1}, {"connection_type", 1},
        {"config", QString::fromLatin1(config.toBase64())}, {"is_fast_server", (features & Fast) ? 1 : 0},
        {"is_gaming", (features & Gaming) ? 1 : 0}, {"is_online_stream", (features & Streaming) ? 1 : 0}});
}

void useServers(const IPBundleList &servers, int active)
{
    User::instance()->setBundles(servers);
    Config::instance()->setActiveServer(active);
    Config::instance()->save();
}

const char kConnects[] = "connect\nexpect hold release\nsend >STATE:1,CONNECTED,SUCCESS,,,,,\nwait-close";
const char kHangs[] = "connect\nexpect hold release\nwait-close";

QString shown(const QStackedWidget *stack)
{
    return stack->currentWidget()->objectName();
}

} // namespace

class TestShell : public QObject
{
    Q_OBJECT
public:
    explicit TestShell(ServiceSandbox &sandbox) : m_sandbox(sandbox) {}

private slots:
    void initTestCase()
    {
        QVERIFY(OpenConnectConnection::initTls());
        m_engine = OpenConnectConnection::instance();
        qputenv("VARNELVPN_OPENVPN", FAKE_OPENVPN);
        qputenv("FAKE_OPENVPN_RECORD", QFile::encodeName(recordFile()));

        // A stand-in ping first on PATH records its arguments and answers with
        // this machine's real reply (45.7 ms put in: loopback is faster).
        QFile sample(QStringLiteral(PING_REPLY)), ping(m_bin.filePath(QStringLiteral("ping")));
        QVERIFY(sample.open(QIODevice::ReadOnly) && ping.open(QIODevice::WriteOnly));
        ping.write("#!/bin/sh\necho \"$*\" >>'" + QFile::encodeName(pingRecord()) + "'\ncat <<'EOF'\n"
                   + sample.readAll().replace("time=0.215", "time=45.7") + "\nEOF\n");
        ping.close();
        QVERIFY(ping.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("PATH", QFile::encodeName(m_bin.path()) + ':' + qgetenv("PATH"));

        // The round trip is measured once per run, on the run's first
        // statistics update: make that update here, whichever test runs,
        // with the active server given with its port.
        useServers({server(3, "A", "10.9.8.1"), server(7, "B", "10.9.8.7:1194")}, 7);
        StatsIndicator panel;
        emit m_engine->statsChanged(1, 1);
        QTRY_VERIFY(child<QLabel>(&panel, "lblPing")->text() != QStringLiteral("0"));
        m_firstPing = child<QLabel>(&panel, "lblPing")->text();
        m_firstRuns = pingRuns();
    }

    // Logged out, disconnected, no cached login reply, three servers.
    void init()
    {
        m_engine->setUsername(QStringLiteral("user"));
        m_engine->setPassword(QStringLiteral("pass"));
        qputenv("FAKE_OPENVPN_STEPS", kConnects);
        QFile::remove(recordFile());
        QFile::remove(LoginCache::fileName());
        QVERIFY(m_sandbox.running() || m_sandbox.start());
        const auto config = Config::instance();
        config->setKillSwitch(false);
        config->setAutoConnect(false);
        config->setAutoLogin(false);
        config->setConnectionState(false);
        config->setServerButton(true);
        config->saveState(0, 0);
        useServers({server(1, "Germany", "127.0.1.1:1194", Fast), server(2, "France", "127.0.1.2:1194"),
                    server(3, "Japan", "127.0.1.3", Fast | Gaming)},
                   1);
    }

    void cleanup()
    {
        m_engine->disconnect();
        QTRY_COMPARE_WITH_TIMEOUT(m_engine->status(), OpenConnectConnection::Disconnected, 10000);
        QTRY_VERIFY(m_engine->findChildren<OpenVpnRunner *>().isEmpty());
        KillSwitch::runScript(KillSwitch::Runner::Toggle, false);
    }

    // Two presses on the connect button: connect and disconnect, or a press
    // while connecting that cancels the attempt.
    void connectButton_data()
    {
        QTest::addColumn<bool>("killSwitch");
        QTest::addColumn<bool>("connects");
        QTest::newRow("kill switch off") << false << true;
        QTest::newRow("kill switch on: blocked around the tunnel, which is let through") << true << true;
        QTest::newRow("second press while connecting cancels") << false << false;
    }

    void connectButton()
    {
        QFETCH(bool, killSwitch);
        QFETCH(bool, connects);
        Config::instance()->setKillSwitch(killSwitch);
        Config::instance()->save();
        if (!connects)
            qputenv("FAKE_OPENVPN_STEPS", kHangs);
        ConnectPage page;
        page.show();
        auto *button = child<QPushButton>(&page, "btnConnect");
        auto *text = child<QLabel>(&page, "lblProtectedText");
        auto *stats = child<QWidget>(&page, "statsWidget");
        QTest::mousePress(button, Qt::LeftButton);
        if (connects) {
            QTRY_COMPARE_WITH_TIMEOUT(page.pageStatus(), int(OpenConnectConnection::Connected), 10000);
            QCOMPARE(text->text(), QStringLiteral("Protected Now"));
            QCOMPARE(child<QLabel>(&page, "lblSelectionIp")->text(), QStringLiteral("127.0.1.1"));
            QVERIFY(stats->isVisible() && Config::instance()->connectionState());
            QCOMPARE(m_sandbox.devices().size(), 1);
            QCOMPARE(m_sandbox.blocking(), killSwitch);
        } else {
            // The program is up and waiting for a state that never comes.
            QTRY_VERIFY_WITH_TIMEOUT(recorded().contains(QStringLiteral("got hold release")), 10000);
            QCOMPARE(page.pageStatus(), int(OpenConnectConnection::Connecting));
        }

        QTest::mousePress(button, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(page.pageStatus(), int(OpenConnectConnection::Disconnected), 10000);
        QCOMPARE(text->text(), QStringLiteral("Not Protected"));
        QVERIFY(!stats->isVisible() && !Config::instance()->connectionState());
        QCOMPARE(started(), QStringList{QStringLiteral("config remote 127.0.1.1 1194")});
        QTRY_VERIFY(m_sandbox.devices().isEmpty());
        QCOMPARE(m_sandbox.blocking(), killSwitch);
    }

    void reconnectGoesToTheNewServer()
    {
        ConnectPage page;
        page.reconnect(true);   // disconnected: a plain connect
        QTRY_COMPARE_WITH_TIMEOUT(page.pageStatus(), int(OpenConnectConnection::Connected), 10000);
        Config::instance()->setActiveServer(3);
        page.reconnect(true);
        QTRY_COMPARE_WITH_TIMEOUT(started().size(), 2, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(page.pageStatus(), int(OpenConnectConnection::Connected), 10000);
        QCOMPARE(started().last().trimmed(), QStringLiteral("config remote 127.0.1.3"));
        // An address without a port is shown whole.
        QCOMPARE(child<QLabel>(&page, "lblSelectionIp")->text(), QStringLiteral("127.0.1.3"));
    }

    // What the page tells when a press does not give a tunnel.
    void failuresAreTold_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QByteArray>("steps");
        QTest::addColumn<QString>("message");
        auto add = [](const char *tag, const char *message, const char *steps = kConnects,
                      const char *password = "pass", const char *ip = "127.0.1.1:1194", const char *extra = "") {
            QTest::newRow(tag) << password << ip << QByteArray("remote remoteIP remotePort\n").append(extra)
                               << QByteArray(steps) << message;
        };
        add("invalid credentials", "Invalid credentials", kConnects, "");
        add("no address: nothing happens", "", kConnects, "pass", "");
        add("configuration refused",
            "The configuration of this server was refused: it holds \"writepid\", which could run programs or write "
            "files on this computer. Nothing was started. Please choose another server.",
            kConnects, "pass", "127.0.1.1:1194", "writepid /tmp/varnel.pid\n");
        add("service not running",
            "The VarnelVPN service is not running. Start it with \"sudo systemctl start varnelvpn\" and try again. "
            "(No such file or directory)");
        add("connection lost", "The connection to the VPN server was lost. Connect again or choose another server.",
            "connect\nexpect hold release\nsend >STATE:1,CONNECTED,SUCCESS,,,,,\nsleep 200\nexit 1");
    }

    void failuresAreTold()
    {
        QFETCH(QString, password);
        QFETCH(QString, ip);
        QFETCH(QByteArray, config);
        QFETCH(QByteArray, steps);
        QFETCH(QString, message);
        const QStringList messages = message.isEmpty() ? QStringList() : QStringList{message};
        m_engine->setPassword(password);
        if (QByteArray(QTest::currentDataTag()) == "service not running")
            m_sandbox.stop();
        qputenv("FAKE_OPENVPN_STEPS", steps);
        useServers({server(5, "Spain", ip, Plain, config)}, 5);
        MessageCatcher boxes;
        ConnectPage page;
        ConnectPage follower;   // like the program's hidden one: it only follows
        page.btnConnect_clicked();
        QTRY_COMPARE(boxes.texts(), messages);
        QTRY_COMPARE(page.pageStatus(), int(OpenConnectConnection::Disconnected));
        // One box, from the page that started the attempt.
        QTest::qWait(50);
        QCOMPARE(boxes.texts(), messages);
    }

    // A Free plan shows the buy-premium block; a locked server asks to buy
    // instead of connecting, whatever the plan.
    void upgradeOffers_data()
    {
        QTest::addColumn<int>("userType");
        QTest::addColumn<int>("answer");
        QTest::newRow("Free plan, purchase declined") << 0 << int(QMessageBox::No);
        QTest::newRow("premium plan, purchase page") << 2 << int(QMessageBox::Yes);
    }

    void upgradeOffers()
    {
        QFETCH(int, userType);
        QFETCH(int, answer);
        User::instance()->setFromLoginReply(QJsonObject{{"user_type", userType}});
        useServers({server(1, "Germany", "127.0.1.1:1194"), server(4, "Japan", "8.8.8.8")}, 4);
        ConnectPage page;
        page.show();
        QTRY_COMPARE(child(&page, "BuyPremiumWidget")->isVisible(), userType == 0);
        QSignalSpy purchase(&page, &ConnectPage::paymentPageRequest);
        MessageCatcher boxes;
        boxes.setAnswer(QMessageBox::StandardButton(answer));
        page.btnConnect_clicked();
        QCOMPARE(boxes.texts(), QStringList{"You are using free version of Varnel VPN.Buy now to unlock all server?"});
        QCOMPARE(purchase.size(), answer == QMessageBox::Yes ? 1 : 0);
        QVERIFY(m_engine->findChildren<OpenVpnRunner *>().isEmpty());
        QCOMPARE(Config::instance()->activeServer(), 4);
    }

    // The fastest button walks the high-speed servers in turn, titled by
    // country (cut to five letters past nine); a press without one changes
    // nothing but still counts.
    void fastestWalksRoundRobin()
    {
        FastestServerButton button;
        QSignalSpy clicked(&button, &FastestServerButton::fastestServerClicked);
        auto fourServers = [](int last) {
            useServers({server(1, "Bangladesh", "127.0.1.1:1194", Fast), server(2, "B", "127.0.1.2:1194"),
                        server(3, "Australia", "127.0.1.3:1194", Fast), server(last, "D", "127.0.1.4:1194", Fast)},
                       2);
        };
        fourServers(4);
        QStringList picks;   // the active server and the title after each press
        for (int i = 0; i < 5; ++i) {
            QTest::mousePress(&button, Qt::LeftButton);
            const QString title = child<QLabel>(&button, "lblTitle")->text();
            picks << QStringLiteral("%1 %2").arg(Config::instance()->activeServer()).arg(title);
        }
        QCOMPARE(picks, (QStringList{"1 Bangl", "3 Australia", "4 D", "1 Bangl", "3 Australia"}));
        useServers({server(2, "B", "127.0.1.2:1194")}, 2);
        QTest::mousePress(&button, Qt::LeftButton);
        QCOMPARE(clicked.size(), 5);
        QCOMPARE(Config::instance()->activeServer(), 2);
        fourServers(6);
        QTest::mousePress(&button, Qt::LeftButton);   // the seventh press: 6 % 3, the first fast one
        QCOMPARE(Config::instance()->activeServer(), 1);
    }

    // Gaming and streaming each pick a server of their kind; without one,
    // gaming does nothing and streaming still asks to connect.
    void gamingAndStreamingChoice()
    {
        GammingServerButton gaming;
        StreamingServerButton streaming;
        QSignalSpy gamingClicked(&gaming, &GammingServerButton::GammingServerClicked);
        QSignalSpy streamingClicked(&streaming, &StreamingServerButton::StreamingServerButtonClicked);
        for (const bool offered : {false, true}) {
            useServers({server(2, "B", "127.0.1.2:1194"), server(3, "C", "127.0.1.3:1194", offered ? Gaming : Plain),
                        server(4, "D", "127.0.1.4:1194", offered ? Streaming : Plain)},
                       2);
            QTest::mousePress(&gaming, Qt::LeftButton);
            QCOMPARE(Config::instance()->activeServer(), offered ? 3 : 2);
            QTest::mousePress(&streaming, Qt::LeftButton);
            QCOMPARE(Config::instance()->activeServer(), offered ? 4 : 2);
        }
        QCOMPARE(gamingClicked.size(), 1);
        QCOMPARE(streamingClicked.size(), 2);
    }

    // Shown, the selected location names the active server, or the first
    // one when none is; with auto-connect on the fastest button asks to
    // connect once per show, unless a tunnel is up.
    void quickButtonsWhenShown()
    {
        useServers({server(7, "Norway", "127.0.1.7:1194"), server(8, "Chile", "127.0.1.8:1194")}, 42);
        Config::instance()->setAutoConnect(true);
        ServerButton location;
        FastestServerButton fastest;
        QSignalSpy clicked(&fastest, &FastestServerButton::fastestServerClicked);
        auto *city = child<QLabel>(&location, "lblCity");
        for (const bool tunnelUp : {false, false, true}) {
            Config::instance()->setConnectionState(tunnelUp);
            Config::instance()->save();
            city->clear();
            fastest.show();
            location.show();   // refreshed after the fastest button
            QTRY_COMPARE(city->text(), QStringLiteral("Norway 7"));
            fastest.hide();
            location.hide();
        }
        QCOMPARE(clicked.size(), 2);
    }

    // The ring turns back three degrees a tick and starts again at a full circle.
    void ringWrapsToFullCircle()
    {
        ConnectPage page;
        for (int tick = 0; tick < 120; ++tick)
            page.onAnimationTimeout();
        QCOMPARE(page.ringAngle(), 0.0);
        page.onAnimationTimeout();
        QCOMPARE(page.ringAngle(), 360.0);
    }

    // Each route of the logged-in area: what starts it (a menu entry, a
    // button, or a page's signal) and the pages shown after it, from the
    // tools page beside the purchase page ("" keeps that one); the routes
    // to the purchase page start beside the connect page. With the kill
    // switch on and no tunnel, some menu entries only say so.
    void routes_data()
    {
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("right");
        QTest::addColumn<QString>("killSwitch");
        auto add = [](const QString &tag, const char *sender, const char *action, const char *left,
                      const char *right, const char *killSwitch = "off") {
            QTest::newRow(qPrintable(tag)) << sender << action << left << right << killSwitch;
        };
        const char *connect = "connectPage", *purchase = "purchasePage", *tools = "toolsPage", *kept = "";
        using Pair = std::pair<const char *, const char *>;
        for (const auto &[entry, page] : std::initializer_list<Pair>{
                 {"myaccountButton", "myAccountPage"}, {"supportButton", "supportPage"}, {"toolButton", tools},
                 {"varnelMoreButton", "varnelMorePage"}, {"aboutUsButton", "aboutUsPage"},
                 {"referButton", "referFriendPage"}})
            add(entry, "menuPage", entry, page, connect);
        add("settingButton, never blocked", "menuPage", "settingButton", "settingPage", connect, "on");
        add("deviceButton, tunnel up", "menuPage", "deviceButton", "devicesPage", connect, "on, tunnel up");
        add("redeemVoucherButton", "menuPage", "redeemVoucherButton", "redeemVoucherPage", kept);
        for (const char *entry : {"deviceButton", "referButton", "redeemVoucherButton"})
            add(QStringLiteral("%1, blocked without tunnel").arg(entry), "menuPage", entry, tools, kept, "on");
        add("menu back", "menuPage", "btnBack", "serverSelectionPage", connect);
        // The information pages' backs: one wiring for all, each page its row.
        for (const char *page : {"supportPage", "varnelMorePage", "aboutUsPage", "referFriendPage", "settingPage",
                                 "devicesPage", "redeemVoucherPage"})
            add(QStringLiteral("%1 back").arg(page), page, "btnBack", "menuPage", kept);
        add("account back", "myAccountPage", "btnBack", "menuPage", connect);
        add("tools back", tools, "btnBack", "settingPage", connect);
        add("purchase back", purchase, "btnBack", tools, connect);
        add("referral redeem back", "referralRedeem", "btnBack", "referFriendPage", connect);
        add("redeem a referral", "referFriendPage", "redeemReferalClick()", "referralRedeem", connect);
        add("network protection", "settingPage", "clickNetworkProtecton()", tools, connect);
        add("menu: premium", "menuPage", "premimumButton", tools, purchase);
        for (const auto &[page, signal] : std::initializer_list<Pair>{
                 {"myAccountPage", "byNowButtonClick()"}, {connect, "clickBuyPremiumButton()"},
                 {connect, "paymentPageRequest()"}, {"serverSelectionPage", "paymentPageRequest()"}})
            add(QStringLiteral("%1 %2").arg(page, signal), page, signal, tools, purchase);
        for (const char *quick : {"connectToStreamingServer()", "connectToGammingServer()", "ConnectToFastestServer()"})
            add(quick, connect, quick, tools, connect);
        add("list: server picked", "serverSelectionPage", "connectUiAndConnect()", tools, connect);
        add("selected location", connect, "requestServerSelection()", "serverSelectionPage", kept);
        add("list: menu", "serverSelectionPage", "btnManu", "menuPage", kept);
    }

    void routes()
    {
        QFETCH(QString, sender);
        QFETCH(QString, action);
        QFETCH(QString, right);
        QFETCH(QString, killSwitch);
        qputenv("FAKE_OPENVPN_STEPS", kHangs);
        Config::instance()->setKillSwitch(killSwitch != "off");
        Config::instance()->setConnectionState(killSwitch.endsWith("tunnel up"));
        Config::instance()->save();
        ServerPage area;
        auto *leftStack = child<QStackedWidget>(&area, "stackedWidget");
        auto *rightStack = child<QStackedWidget>(&area, "stackedWidget_2");
        leftStack->setCurrentWidget(child(&area, "toolsPage"));
        rightStack->setCurrentWidget(child(&area, right == "purchasePage" ? "connectPage" : "purchasePage"));
        MessageCatcher boxes;
        QWidget *source = child(&area, qPrintable(sender));
        if (action.endsWith(QLatin1String("()")))
            QVERIFY(QMetaObject::invokeMethod(source, qPrintable(action.chopped(2))));
        else if (auto *button = source->findChild<QPushButton *>(action))
            button->click();
        else
            QTest::mousePress(child(source, qPrintable(action)), Qt::LeftButton);
        QTEST(shown(leftStack), "left");
        QCOMPARE(shown(rightStack), right.isEmpty() ? QStringLiteral("purchasePage") : right);
        QCOMPARE(boxes.texts(), QByteArray(QTest::currentDataTag()).endsWith("blocked without tunnel")
                                    ? QStringList{"Please Connect the VPN to Proceed Further."}
                                    : QStringList{});
    }

    // Connect requests from the server list and the settings in one turn:
    // the second is refused, so exactly one program runs; the settings'
    // quick-access choice reaches the connect page.
    void settingsAndListReachTheConnectPage()
    {
        qputenv("FAKE_OPENVPN_STEPS", kHangs);
        MessageCatcher boxes;
        ServerPage area;
        QVERIFY(QMetaObject::invokeMethod(child(&area, "serverSelectionPage"), "autoConncet"));
        QVERIFY(QMetaObject::invokeMethod(child(&area, "settingPage"), "autoConnectClicked"));
        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Connection already active")});
        QCOMPARE(m_engine->findChildren<OpenVpnRunner *>().size(), 1);

        child<QStackedWidget>(&area, "stackedWidget_2")->setCurrentIndex(0);
        area.show();
        auto *quick = child(&area, "serverButton");
        QTRY_VERIFY(quick->isVisible());
        QTest::mousePress(child(&area, "AlwaysSelectServerradioButton"), Qt::LeftButton);
        QVERIFY(!quick->isVisible());
        QTest::mousePress(child(&area, "quickAccessradioButton"), Qt::LeftButton);
        QVERIFY(quick->isVisible());
    }

    // A login shows the area's recorded pages (the server list and the
    // connect page with auto-connect; where it was for a record without a
    // page). The menu's logout asks first (otherwise with a tunnel up), then
    // shows the login page: no automatic login, kill switch or cached reply.
    void loginAndLogout_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("killSwitch");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QPoint>("record");
        QTest::addColumn<bool>("autoConnect");
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("right");
        const int yes = QMessageBox::Yes, no = QMessageBox::No;
        QTest::newRow("recorded pages; disconnected, kill switch off")
            << false << false << yes << QPoint(9, 1) << false << "settingPage" << "purchasePage";
        QTest::newRow("auto-connect; connected, kill switch on")
            << true << true << yes << QPoint(9, 1) << true << "serverSelectionPage" << "connectPage";
        QTest::newRow("index without a page; connected, kill switch on, declined")
            << true << true << no << QPoint(12, -1) << false << "toolsPage" << "purchasePage";
    }

    void loginAndLogout()
    {
        QFETCH(bool, connected);
        QFETCH(bool, killSwitch);
        QFETCH(int, answer);
        QFETCH(QPoint, record);
        QFETCH(bool, autoConnect);
        const auto config = Config::instance();
        config->setKillSwitch(killSwitch);
        config->setAutoLogin(true);
        config->setAutoConnect(autoConnect);
        config->save();
        config->saveState(record.x(), record.y());
        LoginCache::write(QJsonDocument(QJsonObject{{"response_code", 1}}));
        RootWindow window(QStringLiteral("not"));
        auto *rootStack = child<QStackedWidget>(&window, "stackedWidget");
        auto *left = child<QStackedWidget>(child(rootStack, "serverPage"), "stackedWidget");
        auto *right = child<QStackedWidget>(child(rootStack, "serverPage"), "stackedWidget_2");
        left->setCurrentWidget(child(left, "toolsPage"));
        right->setCurrentWidget(child(right, "purchasePage"));
        window.onLoginSuccessfull();
        QCOMPARE(shown(rootStack), QStringLiteral("serverPage"));
        QTEST(shown(left), "left");
        QTEST(shown(right), "right");
        if (connected) {
            emit window.connectClick();   // the tray's connect
            QTRY_COMPARE_WITH_TIMEOUT(m_engine->status(), OpenConnectConnection::Connected, 10000);
        }

        MessageCatcher boxes;
        boxes.setAnswer(QMessageBox::StandardButton(answer));
        QTest::mousePress(child(&window, "logoutButton"), Qt::LeftButton);
        QCOMPARE(boxes.texts(), QStringList{connected ? "Are you sure you want to disconnect and log out?"
                                                      : "Do you want to log out?"});
        const bool loggedOut = answer == QMessageBox::Yes;
        QCOMPARE(shown(rootStack), QLatin1String(loggedOut ? "loginPage" : "serverPage"));
        QCOMPARE(config->autoLogin(), !loggedOut);
        QCOMPARE(config->killSwitch(), killSwitch && !loggedOut);
        QCOMPARE(LoginCache::readText().isEmpty(), loggedOut);
        QCOMPARE(m_sandbox.storedKillSwitch(), killSwitch && !loggedOut);
        QCOMPARE(config->loadState(), loggedOut ? qMakePair(0, 0) : qMakePair(record.x(), record.y()));
        // Declined, the tunnel and its block stay; a logout lifts the block.
        QTRY_COMPARE(m_engine->status(), connected && !loggedOut ? OpenConnectConnection::Connected
                                                                 : OpenConnectConnection::Disconnected);
        QTRY_COMPARE(m_sandbox.blocking(), connected && killSwitch && !loggedOut);
    }

    void geometryAndBackground()
    {
        RootWindow window(QStringLiteral("not"));
        fixMainWindowGeometry(&window);
        QCOMPARE(window.minimumSize(), QSize(1080, 740));
        QCOMPARE(window.maximumSize(), QSize(1080, 740));

        // Drawn when shown, at the window's size (a smaller picture would be
        // tiled); the engine's status reaches the window queued.
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QImage white = uncachedPicture(QStringLiteral(":/img/white_background.png"), window.size()).toImage();
        const QImage blue = uncachedPicture(QStringLiteral(":/img/background.png"), window.size()).toImage();
        auto background = [&window] { return window.palette().brush(QPalette::Window).texture().toImage(); };
        QCOMPARE(background(), white);
        emit m_engine->statusChanged(OpenConnectConnection::Connected);
        QTRY_COMPARE(background(), blue);
        emit m_engine->statusChanged(OpenConnectConnection::Disconnected);
        QTRY_COMPARE(background(), white);
    }

    // This platform has no tray: closing (like Escape, a rejection of the
    // dialog) minimises the window, which stays within reach.
    void closingMinimisesWithoutTray()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        RootWindow window(QStringLiteral("not"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(!window.close());
        QVERIFY(window.isVisible() && window.isMinimized());
    }

    // The start page: the automatic login when the user stays logged in
    // (the backend is a closed port here, so the login page takes over),
    // else the login page; after a login the area's recorded pages.
    void startPages()
    {
        RootWindow window(QStringLiteral("not"));
        auto *pages = child<QStackedWidget>(&window, "stackedWidget");
        QStringList visited;
        connect(pages, &QStackedWidget::currentChanged, this, [&] { visited << shown(pages); });
        MessageCatcher boxes;
        Config::instance()->setAutoLogin(true);
        window.show();
        QTRY_COMPARE(visited, (QStringList{"autoLoginPage", "loginPage"}));
        QTRY_COMPARE(boxes.texts(), QStringList{QStringLiteral("Could not connect to login server!")});

        // Brought back after a logout: straight to the login page.
        window.hide();
        visited.clear();
        Config::instance()->setAutoLogin(false);
        pages->setCurrentIndex(1);
        window.show();
        QTRY_COMPARE(shown(pages), QStringLiteral("loginPage"));
        QCOMPARE(visited, (QStringList{"serverSelectionPage", "loginPage"}));

        // The server list of the root stack takes the favourites' filter and
        // leads to the automatic login; a redeemed referral empties the
        // cached reply and chooses again.
        window.hide();
        QSignalSpy filter(child(pages, "serverSelectionPage"), SIGNAL(filterChanged()));
        emit window.favouriteClick();
        QCOMPARE(filter.size(), 1);
        QVERIFY(QMetaObject::invokeMethod(child(pages, "serverSelectionPage"), "connectUiAndConnect"));
        QCOMPARE(shown(pages), QStringLiteral("autoLoginPage"));
        LoginCache::writeText("{\"response_code\": 1}");
        QVERIFY(QMetaObject::invokeMethod(child(&window, "referralRedeem"), "refresh"));
        QCOMPARE(LoginCache::readText(), QByteArray());
        QCOMPARE(shown(pages), QStringLiteral("loginPage"));
    }

    // Where a box opens, with the given text and buttons: over the root
    // window (dimmed by an overlay that goes with the box, the detail
    // leading), over another main window, or parentless once that is gone.
    void showMessage_data()
    {
        QTest::addColumn<QString>("mainWindow");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("informative");
        QTest::newRow("root window, with a detail") << "root" << "Session" << "Session" << "Do you want to log out?";
        QTest::newRow("another window") << "other" << "" << "Do you want to log out?" << "";
        QTest::newRow("main window gone") << "gone" << "" << "Do you want to log out?" << "";
    }

    void showMessage()
    {
        QFETCH(QString, mainWindow);
        QFETCH(QString, detail);
        RootWindow root(QStringLiteral("not"));
        QWidget other;
        QWidget *window = mainWindow == "root" ? static_cast<QWidget *>(&root) : &other;
        window->show();
        setMainWindow(window);
        if (mainWindow == "gone")
            setMainWindow(std::make_unique<QWidget>().get());
        QFile style(QStringLiteral(":/style/style.qss"));
        QVERIFY(style.open(QIODevice::ReadOnly));
        qApp->setStyleSheet(QString::fromUtf8(style.readAll()));
        const auto plain = qScopeGuard([] { qApp->setStyleSheet(QString()); });
        QPointer<MsgBox> box;
        QString informative;
        bool overlayCovers = false;
        QImage shot;
        QColor yes, no;
        QTimer::singleShot(0, [&] {
            box = qobject_cast<MsgBox *>(QApplication::activeModalWidget());
            informative = box->informativeText();
            const auto overlays = window->findChildren<Overlay *>();
            overlayCovers = overlays.size() == 1 && overlays.first()->geometry() == window->rect();
            shot = box->grab().toImage();
            // Inside each button, beside its text.
            const auto inside = [&](QMessageBox::StandardButton which) {
                return shot.pixelColor(box->button(which)->mapTo(box, QPoint(4, box->button(which)->height() / 2)));
            };
            std::tie(yes, no) = std::make_pair(inside(QMessageBox::Yes), inside(QMessageBox::No));
        });
        MessageCatcher boxes;
        boxes.setAnswer(QMessageBox::No);
        QCOMPARE(Varnel::showMessage("Do you want to log out?", QMessageBox::Yes | QMessageBox::No, detail),
                 QMessageBox::No);
        QCOMPARE(boxes.titles(), QStringList{applicationName()});
        QTEST(boxes.texts().value(0), "text");
        QTEST(informative, "informative");
        QCOMPARE(boxes.parents(), QList<QWidget *>{mainWindow == "gone" ? nullptr : window});
        QCOMPARE(overlayCovers, mainWindow == "root");
        QVERIFY(window->findChildren<Overlay *>().isEmpty());
        QTRY_VERIFY(box.isNull());
        // In the program's style the safe answer is the quiet button, the
        // corners are rounded and the outline is light, not black.
        QCOMPARE(yes, QColor(0xBF, 0x1E, 0x2E));
        QVERIFY(qGray(no.rgb()) > 200);
        QCOMPARE(shot.pixelColor(0, 0).alpha(), 0);
        const QColor edge = shot.pixelColor(0, shot.height() / 2);
        QVERIFY2(edge.alpha() > 0 && qGray(edge.rgb()) > 180 && edge != shot.pixelColor(8, shot.height() / 2),
                 qPrintable(edge.name()));
    }

    // A socket file a crashed instance left is replaced; a message wakes
    // the primary's window, hidden to the tray while minimised; an oversized
    // one is dropped; without a primary a sender reports its failure.
    void singleInstance()
    {
        QTemporaryDir runtime;
        const QString socket = SingleInstance::socketPath(runtime.path());
        QVERIFY(QFile(socket).open(QIODevice::WriteOnly));
        SingleInstance primary(runtime.path());
        QVERIFY(!primary.isRunning() && SingleInstance(runtime.path()).isRunning());
        QWidget window;
        window.showMinimized();
        window.hide();
        primary.setActivationWindow(&window);
        connect(&primary, &SingleInstance::messageReceived, &window, &QWidget::show);   // as start-up does
        QSignalSpy received(&primary, &SingleInstance::messageReceived);
        for (const QByteArray &message : {QByteArray("Wake up!\n"), QByteArray(200 * 1024, 'a')}) {
            QLocalSocket client;
            client.connectToServer(socket);
            QVERIFY(client.waitForConnected(1000));
            client.write(message);
            QTRY_COMPARE(client.state(), QLocalSocket::UnconnectedState);
        }
        QCOMPARE(received, (QList<QVariantList>{{QStringLiteral("Wake up!")}}));
        QTRY_VERIFY(window.isVisible() && !window.isMinimized() && window.isActiveWindow());

        QVERIFY(!sendInstanceMessage(runtime.filePath("none"), QStringLiteral("Wake up!"), 300));
    }

    // Every update is shown, queued (the engine reports from its own
    // thread); a new tunnel counts from zero at once. Nothing pings again,
    // and an address that looks like an option never reaches ping.
    void countersFollowTheTunnel()
    {
        QCOMPARE(m_firstPing, QStringLiteral("45 ms"));
        QCOMPARE(m_firstRuns, QStringList({QStringLiteral("-c 1 -W 2 10.9.8.7")}));
        StatsIndicator panel;
        auto text = [&panel](const char *name) { return child<QLabel>(&panel, name)->text(); };
        emit m_engine->statsChanged(1023, 1536);
        QVERIFY(text("lblUpload") != QStringLiteral("1023 B"));
        QTRY_COMPARE(text("lblUpload"), QStringLiteral("1023 B"));
        QCOMPARE(text("lblDownload"), QStringLiteral("1.5 KB"));
        const auto undo = qScopeGuard([this] { emit m_engine->statusChanged(OpenConnectConnection::Disconnected); });
        emit m_engine->statusChanged(OpenConnectConnection::Connecting);
        QTRY_COMPARE(text("lblDownload"), QStringLiteral("0 B"));
        QCOMPARE(text("lblUpload"), QStringLiteral("0 B"));
        QCOMPARE(measureRoundTrip(QStringLiteral("-f")), QStringLiteral("0 ms"));
        QTest::qWait(50);   // a ping would be queued behind the updates
        QCOMPARE(pingRuns(), m_firstRuns);
        QCOMPARE(text("lblPing"), QStringLiteral("0"));
    }

    // The kill-switch row shows the stored value, read again at every show;
    // presses switch it, with or without a tunnel up: the service applies
    // the block at once (a tunnel that is up is let through) and lifts it.
    void killSwitchRow_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("connected");
        QTest::newRow("off, disconnected") << false << false;
        QTest::newRow("on, connected") << true << true;
    }

    void killSwitchRow()
    {
        QFETCH(bool, stored);
        QFETCH(bool, connected);
        const auto config = Config::instance();
        config->setKillSwitch(!stored);
        config->setConnectionState(connected);
        SettingKillSwitch row;
        config->setKillSwitch(stored);
        row.show();
        QTRY_VERIFY(showsSwitch(row, stored));
        QVERIFY(!m_sandbox.blocking());
        for (const bool on : {!stored, stored}) {
            QTest::mousePress(&row, Qt::LeftButton, Qt::NoModifier, row.rect().center());
            QVERIFY(showsSwitch(row, on));
            QCOMPARE(config->killSwitch(), on);
            QCOMPARE(m_sandbox.storedKillSwitch(), on);
            QCOMPARE(m_sandbox.blocking(), on);
            QCOMPARE(m_sandbox.stateFile(), on ? QByteArray("KillSwith:ON") : QByteArray("KillSwith:OFF"));
        }
    }

    // The connect page's script step: a missing script is told over the
    // page, and nothing is blocked.
    void missingScriptIsTold()
    {
        QWidget page;
        MessageCatcher boxes;
        m_sandbox.removeScripts();
        applyNetworkInterfaceState(&page, true);
        QVERIFY(m_sandbox.restoreScripts());
        QCOMPARE(boxes.titles(), QStringList{"File Error"});
        QCOMPARE(boxes.texts(), QStringList{"The  file does not exist."});
        QCOMPARE(boxes.parents(), QList<QWidget *>{&page});
        QVERIFY(!m_sandbox.blocking());
    }

private:
    QString recordFile() const { return m_sandbox.configHome() + QStringLiteral("/openvpn.txt"); }
    // What the stand-in OpenVPN programs recorded, oldest first.
    QStringList recorded() const
    {
        QFile file(recordFile());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))
                                              : QStringList();
    }
    // The OpenVPN programs started, by their remote line, in order.
    QStringList started() const { return recorded().filter(QRegularExpression(QStringLiteral("^config remote "))); }

    QString pingRecord() const { return m_bin.filePath(QStringLiteral("runs.txt")); }
    // The stand-in ping's runs, by their arguments.
    QStringList pingRuns() const
    {
        QFile record(pingRecord());
        return record.open(QIODevice::ReadOnly) ? QString::fromUtf8(record.readAll()).split('\n', Qt::SkipEmptyParts)
                                                : QStringList();
    }
    static bool showsSwitch(SettingKillSwitch &row, bool on)
    {
        const QPixmap shown = child<QLabel>(&row, "lblArrow")->pixmap(Qt::ReturnByValue);
        return shown.toImage() == cachedPicture(on ? ":/img/1.png" : ":/img/0.png", QSize(32, 32)).toImage();
    }

    ServiceSandbox &m_sandbox;
    std::shared_ptr<OpenConnectConnection> m_engine;
    QTemporaryDir m_bin;
    // What the run's first statistics update (in initTestCase) showed and ran.
    QString m_firstPing;
    QStringList m_firstRuns;
};

VARNEL_SERVICE_TEST_MAIN(TestShell, QApplication)

#include "tst_shell.moc"
