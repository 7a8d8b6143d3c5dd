// The logged-in area without a VPN server: the connect page against a
// stand-in OpenVPN program and the real service, the quick-connect buttons
// over a server list made here, and every route of the area's navigation.
#include "messagecatcher.h"
#include "servicesandbox.h"

#include "app/rootwindow.h"
#include "app/serverpage.h"
#include "backend/logincache.h"
#include "backend/user.h"
#include "common/config.h"
#include "pages/connect/connectpage.h"
#include "pages/menu/menupage.h"
#include "vpn/killswitch.h"
#include "vpn/openvpnrunner.h"
#include "widgets/menuentry/menuentry.h"
#include "widgets/quickconnect/fastestserverbutton.h"
#include "widgets/quickconnect/recommendedserverbutton.h"
#include "widgets/quickconnect/serverbutton.h"

#include <QApplication>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QtTest>

#include <memory>

using namespace Varnel;
using Status = OpenConnectConnection::Status;

namespace {

enum Feature { Plain = 0, Fast = 1, Gaming = 2, Streaming = 4 };

std::shared_ptr<IPBundle> server(int id, const QString &country, int code, const QString &ip, int features = Plain,
                                 const QByteArray &config = "remote remoteIP remotePort\n")
{
    return IPBundle::fromJson(QJsonObject{
        {"ip_id", id}, {"ipName", QStringLiteral("%1 %2").arg(country).arg(id)}, {"countryName", country},
        {"countryCode", QString::number(code)}, {"ip", ip}, {"type", 1}, {"connection_type", 1},
        {"config", QString::fromLatin1(config.toBase64())},
        {"is_fast_server", (features & Fast) ? 1 : 0}, {"is_gaming", (features & Gaming) ? 1 : 0},
        {"is_online_stream", (features & Streaming) ? 1 : 0}});
}

const char kConnects[] = "connect\nexpect hold release\nsend >STATE:1,CONNECTED,SUCCESS,,,,,\nwait-close";
const char kHangs[] = "connect\nexpect hold release\nwait-close";

} // namespace

class TestConnectFlow : public QObject
{
    Q_OBJECT
public:
    explicit TestConnectFlow(ServiceSandbox &sandbox) : m_sandbox(sandbox) {}

private slots:
    void initTestCase()
    {
        QVERIFY(OpenConnectConnection::initTls());
        m_engine = OpenConnectConnection::instance();
        qputenv("VARNELVPN_OPENVPN", FAKE_OPENVPN);
        qputenv("FAKE_OPENVPN_RECORD", QFile::encodeName(recordFile()));
    }

    void init()
    {
        m_engine->setUsername(QStringLiteral("user"));
        m_engine->setPassword(QStringLiteral("pass"));
        qputenv("FAKE_OPENVPN_STEPS", kConnects);
        QFile::remove(recordFile());
        QVERIFY(m_sandbox.running() || m_sandbox.start());
        const auto config = Config::instance();
        config->setKillSwitch(false);
        config->setAutoConnect(false);
        config->setConnectionState(false);
        config->setServerButton(true);
        config->save();
        useServers({server(1, "Germany", 276, "127.0.1.1:1194", Fast), server(2, "France", 250, "127.0.1.2:1194"),
                    server(3, "Japan", 392, "127.0.1.3", Fast | Gaming)},
                   1);
    }

    void cleanup()
    {
        m_engine->disconnect();
        settle();
        KillSwitch::runScript(KillSwitch::Runner::Toggle, false);
    }

    void connectAndDisconnect_data()
    {
        QTest::addColumn<bool>("killSwitch");
        QTest::newRow("kill switch off: no block") << false;
        QTest::newRow("kill switch on: blocked around the tunnel, which is let through") << true;
    }

    void connectAndDisconnect()
    {
        QFETCH(bool, killSwitch);
        Config::instance()->setKillSwitch(killSwitch);
        Config::instance()->save();
        const QStringList tunnel{QStringLiteral("config remote 127.0.1.1 1194")};
        ConnectPage page;
        page.show();
        auto *text = page.findChild<QLabel *>("lblProtectedText");
        auto *address = page.findChild<QLabel *>("lblSelectionIp");
        auto *stats = page.findChild<QWidget *>("statsWidget");
        QTRY_COMPARE(text->text(), QStringLiteral("Not Protected"));
        QVERIFY(!stats->isVisible());

        QTest::mousePress(page.findChild<QPushButton *>("btnConnect"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(page.pageStatus(), int(OpenConnectConnection::Connected), 10000);
        QCOMPARE(text->text(), QStringLiteral("Protected Now"));
        QCOMPARE(address->text(), QStringLiteral("127.0.1.1"));
        QVERIFY(stats->isVisible());
        QVERIFY(Config::instance()->connectionState());
        QCOMPARE(started(), tunnel);
        QCOMPARE(m_sandbox.devices().size(), 1);
        QCOMPARE(m_sandbox.blocking(), killSwitch);

        // An address without a port is shown whole.
        useServers({server(3, "Japan", 392, "127.0.1.3")}, 3);
        page.onStatusChanged(OpenConnectConnection::Connected);
        QCOMPARE(address->text(), QStringLiteral("127.0.1.3"));

        QTest::mousePress(page.findChild<QPushButton *>("btnConnect"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(page.pageStatus(), int(OpenConnectConnection::Disconnected), 10000);
        QCOMPARE(text->text(), QStringLiteral("Not Protected"));
        QVERIFY(!stats->isVisible());
        QVERIFY(!Config::instance()->connectionState());
        QCOMPARE(started(), tunnel);
        QTRY_VERIFY(m_sandbox.devices().isEmpty());
        QCOMPARE(m_sandbox.blocking(), killSwitch);
    }

    void pressWhileConnectingCancels()
    {
        qputenv("FAKE_OPENVPN_STEPS", kHangs);
        ConnectPage page;
        QList<Status> seen;
        connect(m_engine.get(), &OpenConnectConnection::statusChanged, &page, [&](Status s) { seen << s; },
                Qt::QueuedConnection);
        page.btnConnect_clicked();
        QTRY_COMPARE(page.pageStatus(), int(OpenConnectConnection::Connecting));
        // The program is up and waiting for a state that never comes.
        QTRY_VERIFY_WITH_TIMEOUT(recorded().contains(QStringLiteral("got hold release")), 10000);
        page.btnConnect_clicked();
        QTRY_COMPARE_WITH_TIMEOUT(page.pageStatus(), int(OpenConnectConnection::Disconnected), 10000);
        QVERIFY(!seen.contains(OpenConnectConnection::Connected));
        // One program was started, not a second one.
        QCOMPARE(started().size(), 1);
    }

    void reconnectGoesToTheNewServer()
    {
        ConnectPage page;
        page.reconnect(true);   // disconnected: a plain connect
        QTRY_COMPARE_WITH_TIMEOUT(page.pageStatus(), int(OpenConnectConnection::Connected), 10000);
        Config::instance()->setActiveServer(2);
        page.reconnect(true);
        QTRY_COMPARE_WITH_TIMEOUT(started().size(), 2, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(page.pageStatus(), int(OpenConnectConnection::Connected), 10000);
        QCOMPARE(started(), (QStringList{QStringLiteral("config remote 127.0.1.1 1194"),
                                                QStringLiteral("config remote 127.0.1.2 1194")}));
    }

    // What the page tells when a press does not give a tunnel: the result codes,
    // and the reason an attempt ended without being asked to.
    void resultCodesAreTold_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QByteArray>("program");
        QTest::addColumn<QByteArray>("steps");
        QTest::addColumn<QStringList>("messages");
        const QByteArray plain = "remote remoteIP remotePort\n";
        QTest::newRow("invalid credentials") << "" << "127.0.1.1:1194" << plain << QByteArray(FAKE_OPENVPN)
                                             << QByteArray(kConnects) << QStringList{"Invalid credentials"};
        QTest::newRow("no address: nothing happens") << "pass" << "" << plain << QByteArray(FAKE_OPENVPN)
                                                     << QByteArray(kConnects) << QStringList{};
        QTest::newRow("no OpenVPN program")
            << "pass" << "127.0.1.1:1194" << plain << QByteArray("/nonexistent/openvpn") << QByteArray(kConnects)
            << QStringList{"The OpenVPN program could not be started (/nonexistent/openvpn: execvp: No such file or "
                           "directory). Install OpenVPN (for example \"sudo apt install openvpn\") or name the program "
                           "in VARNELVPN_OPENVPN, then connect again."};
        QTest::newRow("configuration refused")
            << "pass" << "127.0.1.1:1194" << plain + "writepid /tmp/varnel.pid\n" << QByteArray(FAKE_OPENVPN)
            << QByteArray(kConnects)
            << QStringList{"The configuration of this server was refused: it holds \"writepid\", which could run "
                           "programs or write files on this computer. Nothing was started. Please choose another "
                           "server."};
        QTest::newRow("credentials refused by the server")
            << "pass" << "127.0.1.1:1194" << plain << QByteArray(FAKE_OPENVPN)
            << QByteArray("connect\nexpect hold release\nsend >PASSWORD:Verification Failed: 'Auth'\nwait-close")
            << QStringList{"Server connection error. Try another server."};
        QTest::newRow("service not running")
            << "pass" << "127.0.1.1:1194" << plain << QByteArray("no service") << QByteArray(kConnects)
            << QStringList{"The VarnelVPN service is not running. Start it with \"sudo systemctl start varnelvpn\" "
                           "and try again. (No such file or directory)"};
        QTest::newRow("connection lost")
            << "pass" << "127.0.1.1:1194" << plain << QByteArray(FAKE_OPENVPN)
            << QByteArray("connect\nexpect hold release\nsend >STATE:1,CONNECTED,SUCCESS,,,,,\nsleep 200\nexit 1")
            << QStringList{"The connection to the VPN server was lost. Connect again or choose another server."};
    }

    void resultCodesAreTold()
    {
        QFETCH(QString, password);
        QFETCH(QString, ip);
        QFETCH(QByteArray, config);
        QFETCH(QByteArray, program);
        QFETCH(QByteArray, steps);
        QFETCH(QStringList, messages);
        m_engine->setPassword(password);
        if (program == "no service")
            m_sandbox.stop();
        else
            qputenv("VARNELVPN_OPENVPN", program);
        qputenv("FAKE_OPENVPN_STEPS", steps);
        useServers({server(5, "Spain", 724, ip, Plain, config)}, 5);
        MessageCatcher boxes;
        ConnectPage page;
        ConnectPage follower;   // like the program's hidden one: it only follows
        page.btnConnect_clicked();
        QTRY_COMPARE(boxes.texts(), messages);
        QTRY_VERIFY(m_engine->findChildren<OpenVpnRunner *>().isEmpty());
        QTRY_COMPARE(page.pageStatus(), int(OpenConnectConnection::Disconnected));
        // One box, from the page that started the attempt.
        QTest::qWait(50);
        QCOMPARE(boxes.texts(), messages);
        qputenv("VARNELVPN_OPENVPN", FAKE_OPENVPN);
    }

    void ringWrapsToFullCircle()
    {
        ConnectPage page;
        for (int i = 0; i < 120; ++i)
            page.onAnimationTimeout();
        QCOMPARE(page.ringAngle(), 0.0);
        page.onAnimationTimeout();
        QCOMPARE(page.ringAngle(), 360.0);
    }

    void lockedServerAsksToBuy_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("no: nothing changes") << int(QMessageBox::No);
        QTest::newRow("yes: the purchase page only") << int(QMessageBox::Yes);
    }

    void lockedServerAsksToBuy()
    {
        QFETCH(int, answer);
        useServers({server(1, "Germany", 276, "127.0.1.1:1194"), server(4, "Japan", 392, "8.8.8.8")}, 4);
        ConnectPage page;
        QSignalSpy purchase(&page, &ConnectPage::paymentPageRequest);
        MessageCatcher boxes;
        boxes.setAnswer(QMessageBox::StandardButton(answer));
        page.btnConnect_clicked();
        QCOMPARE(boxes.texts(),
                 QStringList{QStringLiteral("You are using free version of Varnel VPN.Buy now to unlock all server?")});
        QCOMPARE(purchase.size(), answer == QMessageBox::Yes ? 1 : 0);
        QVERIFY(m_engine->findChildren<OpenVpnRunner *>().isEmpty());
        QCOMPARE(Config::instance()->activeServer(), 4);
        QCOMPARE(m_engine->status(), OpenConnectConnection::Disconnected);
    }

    void logout_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("killSwitch");
        QTest::addColumn<int>("answer");
        QTest::newRow("disconnected, kill switch off") << false << false << int(QMessageBox::Yes);
        QTest::newRow("connected, kill switch on") << true << true << int(QMessageBox::Yes);
        QTest::newRow("connected, declined") << true << false << int(QMessageBox::No);
        QTest::newRow("disconnected, declined") << false << true << int(QMessageBox::No);
    }

    void logout()
    {
        QFETCH(bool, connected);
        QFETCH(bool, killSwitch);
        QFETCH(int, answer);
        const auto config = Config::instance();
        config->setKillSwitch(killSwitch);
        config->setAutoLogin(true);
        config->save();
        LoginCache::write(QJsonDocument(QJsonObject{{"response_code", 1}}));

        RootWindow window(QStringLiteral("not"));
        auto *rootStack = window.findChild<QStackedWidget *>("stackedWidget");
        window.onLoginSuccessfull();
        auto *area = window.findChild<ServerPage *>("serverPage");
        area->findChild<QStackedWidget *>("stackedWidget")->setCurrentIndex(9);
        config->saveState(9, 1);
        if (connected) {
            area->findChild<ConnectPage *>("connectPage")->btnConnect_clicked();
            QTRY_COMPARE_WITH_TIMEOUT(m_engine->status(), OpenConnectConnection::Connected, 10000);
        }
        QCOMPARE(m_sandbox.blocking(), connected && killSwitch);

        MessageCatcher boxes;
        boxes.setAnswer(QMessageBox::StandardButton(answer));
        QMetaObject::invokeMethod(area->findChild<MenuPage *>("menuPage"), "logoutButtonClick");
        QCOMPARE(boxes.texts(),
                 QStringList{connected ? QStringLiteral("Are you sure you want to disconnect and log out?")
                                       : QStringLiteral("Do you want to log out?")});
        const bool loggedOut = answer == QMessageBox::Yes;
        QCOMPARE(rootStack->currentIndex(), loggedOut ? 2 : 3);
        QCOMPARE(config->autoLogin(), !loggedOut);
        QCOMPARE(config->killSwitch(), killSwitch && !loggedOut);
        if (!loggedOut) {
            QCOMPARE(m_engine->status(),
                     connected ? OpenConnectConnection::Connected : OpenConnectConnection::Disconnected);
            QCOMPARE(m_sandbox.blocking(), connected && killSwitch);
            return;
        }
        QVERIFY(!m_sandbox.storedKillSwitch());
        QCOMPARE(config->loadState(), qMakePair(0, 0));
        QCOMPARE(LoginCache::readText(), QByteArray());
        settle();
        // The logout lifted the block the tunnel had.
        QVERIFY(!m_sandbox.blocking());
    }

    void fastestWalksRoundRobin()
    {
        FastestServerButton button;
        QSignalSpy clicked(&button, &FastestServerButton::fastestServerClicked);
        useServers({server(1, "A", 276, "127.0.1.1:1194", Fast), server(2, "B", 250, "127.0.1.2:1194"),
                    server(3, "C", 392, "127.0.1.3:1194", Fast), server(4, "D", 724, "127.0.1.4:1194", Fast)},
                   2);
        QList<int> chosen;
        for (int i = 0; i < 5; ++i) {
            QTest::mousePress(&button, Qt::LeftButton);
            chosen << Config::instance()->activeServer();
        }
        QCOMPARE(chosen, (QList<int>{1, 3, 4, 1, 3}));
        QCOMPARE(clicked.size(), 5);

        // No high-speed server: nothing happens, but the press still counts.
        useServers({server(2, "B", 250, "127.0.1.2:1194")}, 2);
        QTest::mousePress(&button, Qt::LeftButton);
        QCOMPARE(clicked.size(), 5);
        QCOMPARE(Config::instance()->activeServer(), 2);
        useServers({server(1, "A", 276, "127.0.1.1:1194", Fast), server(3, "C", 392, "127.0.1.3:1194", Fast),
                    server(4, "D", 724, "127.0.1.4:1194", Fast), server(6, "E", 40, "127.0.1.6:1194", Fast)},
                   2);
        QTest::mousePress(&button, Qt::LeftButton);   // the seventh press: 6 % 4
        QCOMPARE(Config::instance()->activeServer(), 4);
    }

    void fastestTitle_data()
    {
        QTest::addColumn<QString>("country");
        QTest::addColumn<QString>("title");
        QTest::newRow("nine letters whole") << "Australia" << "Australia";
        QTest::newRow("ten letters cut, no ellipsis") << "Bangladesh" << "Bangl";
        QTest::newRow("short") << "Peru" << "Peru";
    }

    void fastestTitle()
    {
        QFETCH(QString, country);
        QFETCH(QString, title);
        FastestServerButton button;
        useServers({server(9, country, 36, "127.0.1.9:1194", Fast)}, 9);
        QTest::mousePress(&button, Qt::LeftButton);
        QCOMPARE(button.findChild<QLabel *>("lblTitle")->text(), title);
        QCOMPARE(button.findChild<QLabel *>("lblName")->text(), QStringLiteral("Fastest Server"));
        QVERIFY(!button.findChild<QLabel *>("lblLogo")->pixmap(Qt::ReturnByValue).isNull());

        // Shown, it names what the server list recorded, by the same rule.
        Config::instance()->setFastestServer(country);
        Config::instance()->setFastestCountryCode(36);
        Config::instance()->save();
        button.findChild<QLabel *>("lblTitle")->clear();
        button.show();
        QTRY_COMPARE(button.findChild<QLabel *>("lblTitle")->text(), title);
    }

    void autoConnectOncePerShow()
    {
        FastestServerButton button;
        QSignalSpy clicked(&button, &FastestServerButton::fastestServerClicked);
        const auto config = Config::instance();
        config->setAutoConnect(true);
        config->save();
        for (int show = 1; show <= 2; ++show) {
            button.show();
            QTRY_COMPARE(clicked.size(), show);
            button.hide();
        }
        // With a tunnel up (as the settings say), no connect of its own.
        config->setConnectionState(true);
        config->save();
        button.show();
        QTest::qWait(50);   // the zero-delay refresh has run
        QCOMPARE(clicked.size(), 2);
        QCOMPARE(config->activeServer(), 1);   // auto-connect picks nothing itself
    }

    void gamingAndStreamingChoice()
    {
        GammingServerButton gaming;
        StreamingServerButton streaming;
        QSignalSpy gamingClicked(&gaming, &GammingServerButton::GammingServerClicked);
        QSignalSpy streamingClicked(&streaming, &StreamingServerButton::StreamingServerButtonClicked);

        useServers({server(1, "A", 276, "127.0.1.1:1194"), server(2, "B", 250, "127.0.1.2:1194")}, 2);
        QTest::mousePress(&gaming, Qt::LeftButton);
        QTest::mousePress(&streaming, Qt::LeftButton);
        QCOMPARE(gamingClicked.size(), 0);
        QCOMPARE(streamingClicked.size(), 1);
        QCOMPARE(Config::instance()->activeServer(), 2);

        useServers({server(1, "A", 276, "127.0.1.1:1194", Gaming), server(2, "B", 250, "127.0.1.2:1194"),
                    server(3, "C", 392, "127.0.1.3:1194", Gaming | Streaming)},
                   2);
        QSet<int> gamingPicks;
        for (int i = 0; i < 40; ++i) {
            QTest::mousePress(&gaming, Qt::LeftButton);
            gamingPicks << Config::instance()->activeServer();
            QTest::mousePress(&streaming, Qt::LeftButton);
            QCOMPARE(Config::instance()->activeServer(), 3);
        }
        QCOMPARE(gamingPicks, (QSet<int>{1, 3}));
        QCOMPARE(gamingClicked.size(), 40);
    }

    void selectedLocationFallsBackToFirst()
    {
        ServerButton button;
        useServers({server(7, "Norway", 578, "127.0.1.7:1194"), server(8, "Chile", 152, "127.0.1.8:1194")}, 42);
        button.show();
        QTRY_COMPARE(button.findChild<QLabel *>("lblCountry")->text(), QStringLiteral("Norway"));
        QCOMPARE(button.findChild<QLabel *>("lblCity")->text(), QStringLiteral("Norway 7"));
        QCOMPARE(button.findChild<QLabel *>("lblChangeLocation")->text(), QStringLiteral("Selected Location"));
        QSignalSpy clicked(&button, &ServerButton::clicked);
        QTest::mousePress(&button, Qt::LeftButton);
        QCOMPARE(clicked.size(), 1);
    }

    // Each route of the logged-in area: what starts it and both stack indices
    // after it (-1: that stack keeps the index it had, 4 on the left and 1 on
    // the right before every route).
    void navigation_data()
    {
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("right");
        using Route = std::tuple<const char *, int, int>;
        for (const auto &[entry, left, right] :
             {Route{"myaccountButton", 2, 0}, Route{"premimumButton", -1, 1}, Route{"supportButton", 3, 0},
              Route{"settingButton", 9, 0}, Route{"toolButton", 4, 0}, Route{"deviceButton", 10, 0},
              Route{"aboutUsButton", 7, 0}, Route{"varnelMoreButton", 6, 0}, Route{"referButton", 8, 0},
              Route{"redeemVoucherButton", 11, -1}})
            QTest::newRow(entry) << "menuPage" << QString::fromLatin1(entry) << left << right;
        QTest::newRow("menu back") << "menuPage" << "btnBack" << 0 << 0;
        QTest::newRow("account back") << "myAccountPage" << "btnBack" << 1 << 0;
        QTest::newRow("tools back") << "toolsPage" << "btnBack" << 9 << 0;
        for (const char *page : {"supportPage", "varnelMorePage", "aboutUsPage", "referFriendPage", "settingPage",
                                 "devicesPage", "redeemVoucherPage"})
            QTest::newRow(page) << page << "btnBack" << 1 << -1;
        QTest::newRow("purchase back") << "purchasePage" << "btnBack" << -1 << 0;
        QTest::newRow("referral redeem back") << "referralRedeem" << "btnBack" << 8 << 0;
        QTest::newRow("account buy now") << "myAccountPage" << "byNowButtonClick()" << -1 << 1;
        QTest::newRow("redeem a referral") << "referFriendPage" << "redeemReferalClick()" << 5 << 0;
        QTest::newRow("network protection") << "settingPage" << "clickNetworkProtecton()" << 4 << 0;
        QTest::newRow("buy premium") << "connectPage" << "clickBuyPremiumButton()" << -1 << 1;
        QTest::newRow("locked server") << "connectPage" << "paymentPageRequest()" << -1 << 1;
        QTest::newRow("streaming") << "connectPage" << "connectToStreamingServer()" << -1 << 0;
        QTest::newRow("gaming") << "connectPage" << "connectToGammingServer()" << -1 << 0;
        QTest::newRow("fastest") << "connectPage" << "ConnectToFastestServer()" << -1 << 0;
        QTest::newRow("selected location") << "connectPage" << "requestServerSelection()" << 0 << -1;
        QTest::newRow("list: menu") << "serverSelectionPage" << "btnManu" << 1 << -1;
        QTest::newRow("list: server picked") << "serverSelectionPage" << "connectUiAndConnect()" << -1 << 0;
        QTest::newRow("list: locked server bought") << "serverSelectionPage" << "paymentPageRequest()" << -1 << 1;
    }

    void navigation()
    {
        QFETCH(QString, sender);
        QFETCH(QString, action);
        QFETCH(int, left);
        QFETCH(int, right);
        qputenv("FAKE_OPENVPN_STEPS", kHangs);
        ServerPage area;
        auto *leftStack = area.findChild<QStackedWidget *>("stackedWidget");
        auto *rightStack = area.findChild<QStackedWidget *>("stackedWidget_2");
        leftStack->setCurrentIndex(4);
        rightStack->setCurrentIndex(1);

        QWidget *source = area.findChild<QWidget *>(sender);
        QVERIFY(source);
        if (action.endsWith(QLatin1String("()"))) {
            QVERIFY(QMetaObject::invokeMethod(source, qPrintable(action.chopped(2))));
        } else if (auto *button = source->findChild<QPushButton *>(action)) {
            button->click();
        } else {
            auto *entry = source->findChild<MenuEntry *>(action);
            QVERIFY(entry);
            QTest::mousePress(entry, Qt::LeftButton);
        }
        QCOMPARE(leftStack->currentIndex(), left < 0 ? 4 : left);
        QCOMPARE(rightStack->currentIndex(), right < 0 ? 1 : right);
    }

    // The routes that do not switch pages.
    void relayedSignals()
    {
        qputenv("FAKE_OPENVPN_STEPS", kHangs);
        MessageCatcher boxes;
        ServerPage area;
        QSignalSpy connectClicks(&area, &ServerPage::connectButtonClick);
        QSignalSpy refreshes(&area, &ServerPage::refreshLogin);
        QSignalSpy logouts(&area, &ServerPage::logout);
        QVERIFY(QMetaObject::invokeMethod(area.findChild<QWidget *>("serverSelectionPage"), "autoConncet"));
        QVERIFY(QMetaObject::invokeMethod(area.findChild<QWidget *>("settingPage"), "autoConnectClicked"));
        QCOMPARE(connectClicks.size(), 2);
        // Both reached the connect page within one turn: the second is refused,
        // so exactly one program runs.
        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Connection already active")});
        QCOMPARE(m_engine->findChildren<OpenVpnRunner *>().size(), 1);
        m_engine->disconnect();
        settle();
        QVERIFY(QMetaObject::invokeMethod(area.findChild<QWidget *>("referralRedeem"), "refresh"));
        QCOMPARE(refreshes.size(), 1);
        QTest::mousePress(area.findChild<MenuEntry *>("logoutButton"), Qt::LeftButton);
        QCOMPARE(logouts.size(), 1);

        // The quick-access choice of the settings reaches the connect page.
        area.findChild<QStackedWidget *>("stackedWidget_2")->setCurrentIndex(0);
        area.show();
        auto *quick = area.findChild<QWidget *>("serverButton");
        QTRY_VERIFY(quick->isVisible());
        QTest::mousePress(area.findChild<QWidget *>("AlwaysSelectServerradioButton"), Qt::LeftButton);
        QVERIFY(!quick->isVisible());
        QTest::mousePress(area.findChild<QWidget *>("quickAccessradioButton"), Qt::LeftButton);
        QVERIFY(quick->isVisible());

        // The tray's connect reaches the connect page's button.
        emit area.connectButtonClick();
        QTRY_COMPARE(m_engine->status(), OpenConnectConnection::Connecting);
    }

    void killSwitchGatesMenuEntries_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("killSwitch");
        QTest::addColumn<bool>("tunnelUp");
        QTest::addColumn<bool>("gated");
        for (const char *entry : {"deviceButton", "referButton", "redeemVoucherButton"}) {
            QTest::addRow("%s, blocked without tunnel", entry) << entry << true << false << true;
            QTest::addRow("%s, tunnel up", entry) << entry << true << true << false;
            QTest::addRow("%s, kill switch off", entry) << entry << false << false << false;
        }
        QTest::newRow("settings are never gated") << "settingButton" << true << false << false;
    }

    void killSwitchGatesMenuEntries()
    {
        QFETCH(QString, entry);
        QFETCH(bool, killSwitch);
        QFETCH(bool, tunnelUp);
        QFETCH(bool, gated);
        const auto config = Config::instance();
        config->setKillSwitch(killSwitch);
        config->setConnectionState(tunnelUp);
        MenuPage menu;
        auto *button = menu.findChild<MenuEntry *>(entry);
        QSignalSpy clicked(button, &MenuEntry::clicked);
        MessageCatcher boxes;
        QTest::mousePress(button, Qt::LeftButton);
        QCOMPARE(clicked.size(), gated ? 0 : 1);
        QCOMPARE(boxes.texts(),
                 gated ? QStringList{QStringLiteral("Please Connect the VPN to Proceed Further.")} : QStringList{});
        config->setKillSwitch(false);
        config->setConnectionState(false);
    }

private:
    void useServers(const IPBundleList &servers, int active)
    {
        User::instance()->setBundles(servers);
        Config::instance()->setActiveServer(active);
        Config::instance()->save();
    }

    void settle()
    {
        QTRY_COMPARE_WITH_TIMEOUT(m_engine->status(), OpenConnectConnection::Disconnected, 10000);
        QTRY_VERIFY(m_engine->findChildren<OpenVpnRunner *>().isEmpty());
        QCoreApplication::processEvents();
    }
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

    ServiceSandbox &m_sandbox;
    std::shared_ptr<OpenConnectConnection> m_engine;
};

int main(int argc, char *argv[])
{
    if (const int skip = ServiceSandbox::enterNamespace())
        return skip;
    ServiceSandbox sandbox;   // before anything reads the settings or the login cache
    QApplication app(argc, argv);
    TestConnectFlow test(sandbox);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_connectflow.moc"
