// The account, payment, referral, voucher and devices pages against the
// reference backend over HTTPS on loopback: what they show, the web pages
// they open (caught before any browser starts, then fetched from the
// backend, which checks the sign-in token), and how each request ends.
#include "backendpagetest.h"
#include "child.h"
#include "common/gui/iconcache.h"
#include "messagecatcher.h"
#include "openedlinks.h"
#include "startuplook.h"

#include "app/rootwindow.h"
#include "backend/apirequest.h"
#include "backend/user.h"
#include "backend/vpncredentials.h"
#include "common/appinfo.h"
#include "common/config.h"
#include "common/crypto.h"
#include "common/gui/linkopener.h"
#include "pages/account/myaccountpage.h"
#include "pages/devices/devicespage.h"
#include "pages/payment/paymentpage.h"
#include "pages/referral/referfriendpage.h"
#include "pages/referral/referralredeem.h"
#include "pages/voucher/redeemvoucherpage.h"
#include "platform/deviceinfo.h"
#include "tools/refbackend/routes.h"
#include "widgets/congratulations/congratulationspopup.h"
#include "widgets/device/devicewidget.h"
#include "widgets/payment/package.h"
#include "widgets/payment/webpicturelink.h"

#include <QClipboard>
#include <QDateTime>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTableWidget>
#include <QUrlQuery>
#include <QtTest>

#include <memory>

using namespace Varnel;
namespace Routes = Varnel::RefBackend::Routes;

namespace {

// Shorter than the delay of the slow-backend rows, so that they end by the
// client's own time limit.
constexpr int kRequestLimitMs = 2000;

QString authTokenOf(const QUrl &url)
{
    return QUrlQuery(url).queryItemValue(QStringLiteral("authToken"), QUrl::FullyDecoded);
}

// Every line the program writes to its output, at any level.
QStringList g_output;
QtMessageHandler g_previousHandler = nullptr;
void recordOutput(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    g_output << text;
    g_previousHandler(type, context, text);
}

} // namespace

class AccountPagesTest : public BackendPageTest
{
    Q_OBJECT

    std::unique_ptr<OpenedLinks> m_links;

    QPair<int, int> recorded() const
    {
        Config::instance()->load();
        return Config::instance()->loadState();
    }
    // The page shown, and the request its show makes answered.
    template <typename Page>
    std::unique_ptr<Page> shown(const char *path = nullptr)
    {
        const int before = path ? m_backend.count(QLatin1String(path)) : 0;
        auto page = std::make_unique<Page>();
        page->show();
        if (path && !QTest::qWaitFor([&] { return m_backend.count(QLatin1String(path)) > before; }, 10000))
            qWarning("no request on %s", path);
        QTest::qWait(20);   // the zero-delay refresh after the answer
        return page;
    }

private slots:
    void init()
    {
        BackendPageTest::init();
        qputenv("VARNELVPN_HTTP_TIMEOUT_MS", QByteArray::number(kRequestLimitMs));
        ApiRequest::instance()->setTimeout(kRequestLimitMs);
        m_links = std::make_unique<OpenedLinks>();
    }
    void cleanup()
    {
        m_links.reset();
        BackendPageTest::cleanup();
    }

    void accountPage_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("plan");
        QTest::addColumn<QString>("picture");
        QTest::addColumn<bool>("expiry");
        QTest::addColumn<QString>("email");   // the account's contact_email
        QTest::newRow("premium") << "premium.user" << "premium-pass" << "Premium"
                                 << ":/img/my account premium.png" << true << "premium@varnel.test";
        QTest::newRow("scratch card") << "card.user" << "card-pass" << "Scratch Card" << ":/img/my account card.png"
                                      << true << "help@varnel.test";
        QTest::newRow("free") << "free.user" << "free-pass" << "Free" << ":/img/my account free.png" << true
                              << "help@varnel.test";
    }
    void accountPage()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, plan);
        QFETCH(QString, picture);
        QFETCH(bool, expiry);
        QVERIFY(loginAs(user, password));
        MessageCatcher boxes;
        auto page = shown<MyAccountPage>();
        QTRY_COMPARE(child<QLabel>(page.get(), "lblPlan")->text(), plan);
        QCOMPARE(child<QLabel>(page.get(), "lblUserName")->text(), user);
        QCOMPARE(child<QLabel>(page.get(), "lblPassword")->text(), QString(password.size(), QLatin1Char('*')));
        QCOMPARE(child<QLabel>(page.get(), "lblPlanImage")->pixmap(Qt::ReturnByValue).toImage(),
                 cachedPicture(picture, QSize(72, 72)).toImage());
        const QDate validity = User::instance()->validityDate();
        QCOMPARE(validity.isValid(), expiry);
        QCOMPARE(child<QLabel>(page.get(), "lblExpire")->text(), "Expire on " + validity.toString(Qt::TextDate));
        QCOMPARE(child<QLabel>(page.get(), "lblDays")->text(),
                 QStringLiteral("%1 Days").arg(User::instance()->expireInDays()));
        QCOMPARE(recorded(), qMakePair(2, 0));
        QTEST(child<QLabel>(page.get(), "lblEmail")->text(), "email");

        QTest::mousePress(child<QPushButton>(page.get(), "btnCopyUser"), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), user);
        QTest::mousePress(child<QPushButton>(page.get(), "btnCopyPassword"), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), password);
        QCOMPARE(boxes.texts(), (QStringList{"UserName copied to clipboard", "Password copied to clipboard"}));
    }

    void decisionTable_data()
    {
        QTest::addColumn<QString>("decision");
        QTest::addColumn<QStringList>("rows");   // row by row, cells joined with "|"
        QTest::newRow("six cells: two rows") << "Servers~~6~~All,Speed~~Standard~~Highest"
                                             << QStringList{"Servers|6|All", "Speed|Standard|Highest"};
        QTest::newRow("seven cells: the last one left out") << "a,b,c,d,e,f~~g" << QStringList{"a|b|c", "d|e|f"};
        QTest::newRow("two cells: empty") << "a~~b" << QStringList{};
    }
    void decisionTable()
    {
        QFETCH(QString, decision);
        QFETCH(QStringList, rows);
        User::instance()->setDecisionData(decision);
        auto page = shown<PaymentPage>();
        auto *table = child<QTableWidget>(page.get(), "tableWidget");
        QTRY_COMPARE(table->rowCount(), rows.size());
        QCOMPARE(table->columnCount(), 3);
        QCOMPARE(table->horizontalHeaderItem(2)->text(), QStringLiteral("Premium"));
        QCOMPARE(table->horizontalHeaderItem(2)->foreground().color(), QColor(255, 159, 81));
        for (int row = 0; row < rows.size(); ++row) {
            const QStringList cells = rows.at(row).split(QLatin1Char('|'));
            for (int column = 0; column < 3; ++column) {
                QTableWidgetItem *item = table->item(row, column);
                QCOMPARE(item->text(), cells.at(column));
                QCOMPARE(item->textAlignment(), int(Qt::AlignCenter));
                QCOMPARE(item->foreground().color() == QColor(255, 159, 81), column == 2);
            }
        }
    }

    // Each widget that opens a page of the provider's site: the address as
    // the table of addresses says, with a token that the site accepts. The
    // account's password puts a "+" into every token of it; the site must
    // receive it as a "+".
    void webPages_data()
    {
        QTest::addColumn<QString>("widget");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("ownQuery");
        QTest::newRow("package") << "Package" << "/checkout/monthly" << "";
        QTest::newRow("bottom package") << "BottomPackage" << "/checkout/monthly" << "";
        QTest::newRow("features") << "AccoutBottomButton" << "/features" << "src=app";
        QTest::newRow("home image") << "HomeImage" << "/offer" << "campaign=home";
    }
    void webPages()
    {
        QFETCH(QString, widget);
        QFETCH(QString, path);
        QFETCH(QString, ownQuery);
        QVERIFY(loginAs(QStringLiteral("plus.user"), QStringLiteral("pLus-pass")));
        auto page = shown<PaymentPage>();
        QCOMPARE(page->findChildren<Package *>().size(), User::instance()->cardPaymentPackages().size());
        QCOMPARE(page->findChildren<BottomPackage *>().size(), User::instance()->cardPaymentPackages().size());
        QCOMPARE(page->findChildren<AccoutBottomButton *>().size(), 1);
        HomeImage banner;
        banner.show();
        QWidget *pressed = &banner;
        for (QWidget *candidate : page->findChildren<QWidget *>()) {
            if (candidate->metaObject()->className() == "Varnel::" + widget)
                pressed = candidate;
        }

        // The pictures come first: the address they open is known by then.
        if (auto *picture = pressed->findChild<QLabel *>(QStringLiteral("lblPicture")))
            QTRY_VERIFY_WITH_TIMEOUT(picture->isVisible(), 10000);
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        QTest::mousePress(pressed, Qt::LeftButton);
        const qint64 after = QDateTime::currentMSecsSinceEpoch();
        QCOMPARE(m_links->urls.size(), 1);
        const QUrl url = m_links->urls.constFirst();
        QCOMPARE(url.path(), path);
        QUrlQuery withoutToken(url);
        withoutToken.removeAllQueryItems(QStringLiteral("authToken"));
        QCOMPARE(withoutToken.query(), ownQuery);
        const QString token = authTokenOf(url);
        QVERIFY2(token.contains(QLatin1Char('+')), qPrintable(token));
        const QJsonObject fields =
            QJsonDocument::fromJson(decipher(token, QLatin1String(kAuthTokenKey)).toUtf8()).object();
        const qint64 ttl = fields.value(QLatin1String("ttl")).toString().toLongLong();
        QVERIFY2(ttl >= before + 1800000 && ttl <= after + 1800000, qPrintable(QString::number(ttl - before)));

        int status = 0;
        const QByteArray html = m_backend.fetch(url, &status);
        QCOMPARE(status, 200);
        QVERIFY2(html.contains("data-token-state=\"valid\""), html.constData());
    }

    // The features picture: shown when it is a picture of sensible size,
    // else left out with the reason in the log.
    void pictures_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("logged");
        QTest::newRow("a picture") << "%1/img/features.png" << "";
        QTest::newRow("a web page") << "%1/pricing" << "not a picture";
        QTest::newRow("too large") << "%1/speedtest/download?bytes=6000000" << "more than 4194304";
        QTest::newRow("backend down") << closedBase() + "/img/features.png" << "not shown";
        QTest::newRow("slower than the limit") << "%1/img/features.png?slow" << "not shown";
    }
    void pictures()
    {
        QFETCH(QString, address);
        QFETCH(QString, logged);
        if (address.endsWith(QLatin1String("?slow")))
            QVERIFY(m_backend.setFault(QStringLiteral("/img/features.png"), QStringLiteral("delay"),
                                       kRequestLimitMs + 1500));
        User::instance()->setFeaturesImgUrl(address.contains(QLatin1String("%1")) ? address.arg(m_backend.baseUrl())
                                                                                  : address);
        const int mark = ClientSandbox::logMark();
        AccoutBottomButton button;
        button.show();
        auto *picture = child<QLabel>(&button, "lblPicture");
        if (logged.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(picture->isVisible(), 10000);
            QVERIFY(!picture->pixmap(Qt::ReturnByValue).isNull());
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(!ClientSandbox::logSince(mark).filter(QStringLiteral("Picture")).isEmpty(),
                                 kRequestLimitMs + 3000);
        QVERIFY(ClientSandbox::logSince(mark).filter(QStringLiteral("Picture")).constFirst().contains(logged));
        QVERIFY(!picture->isVisible());
    }

    void voucher_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("requests");
        QTest::newRow("empty: nothing sent") << "   " << "" << "Empty subscription code!" << 0;
        QTest::newRow("used: the backend's words") << "USED-CODE" << "" << "" << 1;
        QTest::newRow("backend down") << "VOUCHER-30" << "down" << "Could not connect to serve" << 0;
        // (A code that changes nothing: the backend still answers after the client gave up.)
        QTest::newRow("slower than the limit") << "USED-CODE" << "delay" << "Could not connect to serve" << 1;
        QTest::newRow("redeemed") << "VOUCHER-30" << "" << "" << 1;
    }
    void voucher()
    {
        QFETCH(QString, code);
        QFETCH(QString, setup);
        QFETCH(QString, message);
        QFETCH(int, requests);
        QVERIFY(loginAs(QStringLiteral("free.user"), QStringLiteral("free-pass")));
        QVERIFY(breakBackend(setup, m_backend));
        if (setup == QLatin1String("delay"))
            QVERIFY(m_backend.setFault(QLatin1String(Routes::kRedeemVoucher), setup, kRequestLimitMs + 1500));
        MessageCatcher boxes;
        auto page = shown<RedeemVoucherPage>();
        QCOMPARE(recorded(), qMakePair(11, 0));
        auto *edit = child<QLineEdit>(page.get(), "editCode");
        auto *submit = child<QPushButton>(page.get(), "btnSubmit");
        edit->setText(code);
        QElapsedTimer clock;
        clock.start();
        QTest::mousePress(submit, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(boxes.texts().size(), 1, kRequestLimitMs + 3000);
        QVERIFY(clock.elapsed() < kRequestLimitMs + 1000);
        if (!message.isEmpty())
            QCOMPARE(boxes.texts().constFirst(), message);
        QVERIFY(!boxes.texts().constFirst().isEmpty());
        QCOMPARE(m_backend.count(QLatin1String(Routes::kRedeemVoucher)), requests);
        QCOMPARE(submit->text(), QStringLiteral("Subscribe"));
        QVERIFY(submit->isEnabled() && edit->isEnabled() && edit->text().isEmpty());

        // The new plan comes with the next login.
        if (QTest::currentDataTag() == QLatin1String("redeemed")) {
            QCOMPARE(User::instance()->planName(), QStringLiteral("Free"));
            QVERIFY(loginAs(QStringLiteral("free.user"), QStringLiteral("free-pass")));
            QCOMPARE(User::instance()->planName(), QStringLiteral("Premium"));
        }
    }

    void referFriend()
    {
        QVERIFY(loginAs(QStringLiteral("premium.user"), QStringLiteral("premium-pass")));
        MessageCatcher boxes;
        auto page = shown<ReferFriendPage>(Routes::kReferInfo);
        auto *code = child<QLineEdit>(page.get(), "editCode");
        QTRY_COMPARE(code->text(), QStringLiteral("VRNPREM01"));
        QVERIFY(code->isReadOnly());
        QCOMPARE(User::instance()->referCode(), QStringLiteral("VRNPREM01"));
        QCOMPARE(child<QLabel>(page.get(), "lblReferTitle")->text(), QStringLiteral("Refer a friend"));
        QVERIFY(child<QLabel>(page.get(), "lblMessage")->text().contains(QLatin1String("premium days")));
        QVERIFY(!child<QLabel>(page.get(), "lblPageContent")->text().isEmpty());
        QCOMPARE(recorded(), qMakePair(8, 0));

        QTest::mousePress(child<QPushButton>(page.get(), "btnSubscribe_3"), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("VRNPREM01"));
        QCOMPARE(boxes.texts(), QStringList{"Referral code copied to clipboard"});
        QSignalSpy redeem(page.get(), &ReferFriendPage::redeemReferalClick);
        QTest::mousePress(child<QPushButton>(page.get(), "btnRedeemReferal"), Qt::LeftButton);
        QCOMPARE(redeem.count(), 1);
        // The share panel carries the code (its links are tested with the information pages).
        QTest::mousePress(child<QPushButton>(page.get(), "btnShare"), Qt::LeftButton);
        QTRY_VERIFY(page->findChild<QDialog *>());
        QCOMPARE(child<QLabel>(page->findChild<QDialog *>(), "lblCode")->text(), QStringLiteral("VRNPREM01"));

        // A reply without a code replaces the stored reply, but the field
        // keeps the code it shows.
        setVpnCredentials(QStringLiteral("nocode.user"), QStringLiteral("nocode-pass"));
        page->hide();
        page->show();
        QTRY_COMPARE(child<QLabel>(page.get(), "lblReferTitle")->text(), QStringLiteral("Invite your friends"));
        QVERIFY(!User::instance()->referInfo().contains(QLatin1String("referral_code")));
        QCOMPARE(code->text(), QStringLiteral("VRNPREM01"));

        // Refused: the page says so and closes itself.
        setVpnCredentials(QStringLiteral("premium.user"), QStringLiteral("wrong"));
        boxes.clear();
        QSignalSpy back(page.get(), &Page::clickBack);
        page->hide();
        page->show();
        QTRY_COMPARE(boxes.texts(), QStringList{"Could not connect to server!"});
        QCOMPARE(back.count(), 1);
        QVERIFY(!child<QLabel>(page.get(), "lblSpinner")->isVisible());
    }

    void referralRedeemRefused_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("requests");
        QTest::newRow("empty: nothing sent") << "" << "Refer code is empty!" << 0;
        QTest::newRow("own code") << "VRNFREE01" << "You cannot redeem your own referral code." << 1;
        QTest::newRow("unknown code") << "NO-SUCH-CODE" << "Invalid referral code." << 1;
    }
    void referralRedeemRefused()
    {
        QFETCH(QString, code);
        QFETCH(QString, message);
        QFETCH(int, requests);
        QVERIFY(loginAs(QStringLiteral("free.user"), QStringLiteral("free-pass")));
        MessageCatcher boxes;
        auto page = shown<ReferralRedeem>();
        QSignalSpy refresh(page.get(), &ReferralRedeem::refresh);
        child<QLineEdit>(page.get(), "editCode")->setText(code);
        QTest::mousePress(child<QPushButton>(page.get(), "btnSubmit"), Qt::LeftButton);
        QTRY_COMPARE(boxes.texts(), QStringList{message});
        QCOMPARE(m_backend.count(QLatin1String(Routes::kRefer)), requests);
        QCOMPARE(child<QPushButton>(page.get(), "btnSubmit")->text(), QStringLiteral("Procced"));
        QCOMPARE(refresh.count(), 0);
        QVERIFY(!page->findChild<CongratulationsPopup *>());
    }

    // Redeemed in the logged-in area: the pop-up over the page, the field
    // cleared, the page recorded, and a new automatic login that brings the
    // user back to the page with the account's new plan.
    void referralRedeemedLogsInAgain()
    {
        storeLoggedInUser(QStringLiteral("free.user"), QStringLiteral("free-pass"));
        MessageCatcher boxes;
        RootWindow window(QStringLiteral("not"));
        auto *root = child<QStackedWidget>(&window, "stackedWidget");
        window.show();
        QTRY_COMPARE_WITH_TIMEOUT(root->currentIndex(), 3, 15000);
        QCOMPARE(User::instance()->planName(), QStringLiteral("Free"));
        auto *left = child<QStackedWidget>(root->widget(3), "stackedWidget");
        left->setCurrentIndex(5);
        auto *page = child<ReferralRedeem>(left, "referralRedeem");
        QList<int> visited;
        connect(root, &QStackedWidget::currentChanged, this, [&visited](int index) { visited << index; });

        child<QLineEdit>(page, "editCode")->setText(QStringLiteral("VRNPREM01"));
        QTest::mousePress(child<QPushButton>(page, "btnSubmit"), Qt::LeftButton);
        QTRY_VERIFY(page->findChild<CongratulationsPopup *>());
        auto *popup = page->findChild<CongratulationsPopup *>();
        QVERIFY(popup->isVisible());
        QVERIFY(child<QLineEdit>(page, "editCode")->text().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(visited, (QList<int>{0, 3}), 15000);
        QCOMPARE(m_backend.count(QLatin1String(Routes::kLogin)), 2);
        QCOMPARE(User::instance()->planName(), QStringLiteral("Premium"));
        QCOMPARE(left->currentIndex(), 5);
        QCOMPARE(recorded(), qMakePair(5, 0));

        // "Refer more" leads back to the refer-a-friend page.
        QTest::mousePress(child<QPushButton>(popup, "btnReferMore"), Qt::LeftButton);
        QTRY_COMPARE(left->currentIndex(), 8);
        QVERIFY(boxes.texts().isEmpty());
    }

    // What a desktop session's journal would get from the program: no line,
    // at any level, in the output or the log, holds the password, a token,
    // or a whole reply (a login reply lists every server with its keys).
    void noSecretInTheOutput_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::newRow("login") << "login";
        QTest::newRow("automatic login from the cache") << "automatic login";
        QTest::newRow("logged devices") << "devices";
        QTest::newRow("referral page") << "referral";
        QTest::newRow("checkout link that cannot open") << "checkout";
    }
    void noSecretInTheOutput()
    {
        QFETCH(QString, operation);
        const QString password = QStringLiteral("devices-pass");
        if (operation != QLatin1String("login"))
            QVERIFY(loginAs(QStringLiteral("devices.user"), password));
        MessageCatcher boxes;
        const int mark = ClientSandbox::logMark();
        g_output.clear();
        g_previousHandler = qInstallMessageHandler(recordOutput);
        if (operation == QLatin1String("login")) {
            QVERIFY(loginAs(QStringLiteral("devices.user"), password));
        } else if (operation == QLatin1String("automatic login")) {
            storeLoggedInUser(QStringLiteral("devices.user"), password);
            QCOMPARE(ApiRequest::instance()->login(QStringLiteral("devices.user"), password), 0);
        } else if (operation == QLatin1String("devices")) {
            auto page = shown<DevicesPage>(Routes::kLoggedDevices);
            QTRY_VERIFY(!page->findChildren<DeviceWidget *>().isEmpty());
        } else if (operation == QLatin1String("referral")) {
            shown<ReferFriendPage>(Routes::kReferInfo);
        } else {
            const QByteArray path = qgetenv("PATH");
            qputenv("PATH", "/nonexistent");   // no opener: the program's own warning path
            {
                LinkOpener links;
                auto page = shown<PaymentPage>();
                QTest::mousePress(page->findChild<Package *>(), Qt::LeftButton);
                QTRY_COMPARE(boxes.addresses().size(), 1);
            }
            qputenv("PATH", path);
            QVERIFY(boxes.addresses().constFirst().contains(QLatin1String("authToken=")));
        }
        qInstallMessageHandler(g_previousHandler);
        const QStringList lines = g_output + ClientSandbox::logSince(mark);
        QVERIFY(!lines.isEmpty());
        for (const QString &line : lines) {
            QVERIFY2(!line.contains(password) && !line.contains(QLatin1String("authToken"))
                         && !line.contains(QLatin1String("ip_bundle")) && line.size() < 400,
                     qPrintable(line.left(400)));
        }
    }

    void devices()
    {
        QVERIFY(loginAs(QStringLiteral("devices.user"), QStringLiteral("devices-pass")));
        auto page = shown<DevicesPage>(Routes::kLoggedDevices);
        const auto models = [&page](const char *group) {
            QStringList shown;
            auto *widget = child<DeviceGroup>(page.get(), group);
            for (DeviceWidget *device : widget->findChildren<DeviceWidget *>())
                shown << child<QLabel>(device, "lblModel")->text();
            return widget->isVisible() ? shown : QStringList{"hidden"};
        };
        const auto expectGroups = [&] {
            QCOMPARE(models("windowsGroup"), QStringList{"Surface Pro"});   // not "Windows"
            QCOMPARE(models("androidGroup"), (QStringList{"Galaxy S23", "Pixel 8"}));
            QCOMPARE(models("iosGroup"), QStringList{"iPhone 15"});
            QCOMPARE(models("huaweiGroup"), QStringList{"P60 Pro"});
            // This client's own login, in the group of the system it reports.
            QCOMPARE(models("desktopGroup"), QStringList{deviceInfo().model});
        };
        QTRY_COMPARE(page->findChildren<DeviceWidget *>().size(), 6);
        expectGroups();
        QCOMPARE(child<QLabel>(page.get(), "lblEmpty")->isVisible(), false);
        auto *own = child<DeviceWidget>(child<DeviceGroup>(page.get(), "desktopGroup"), "Varnel__DeviceWidget");
        QCOMPARE(child<QLabel>(own, "lblAppVersion")->text(), "App Version-" + applicationVersion());
        QCOMPARE(recorded(), qMakePair(10, 0));

        // Shown again: asked again, and nothing listed twice.
        page->hide();
        page->show();
        QTRY_COMPARE(m_backend.count(QLatin1String(Routes::kLoggedDevices)), 2);
        QTest::qWait(50);
        expectGroups();
        QCOMPARE(page->findChildren<DeviceWidget *>().size(), 6);

        // An account without devices: every group hidden.
        setVpnCredentials(QStringLiteral("card.user"), QStringLiteral("card-pass"));
        page->hide();
        page->show();
        QTRY_COMPARE(m_backend.count(QLatin1String(Routes::kLoggedDevices)), 3);
        QTRY_VERIFY(page->findChildren<DeviceWidget *>().isEmpty());
        for (const char *group : {"windowsGroup", "androidGroup", "iosGroup", "huaweiGroup", "desktopGroup"})
            QVERIFY2(!child<DeviceGroup>(page.get(), group)->isVisible(), group);
        QVERIFY(child<QLabel>(page.get(), "lblEmpty")->isVisible());
    }

    // A refusal, an unreadable answer or no answer in time: the page says it
    // could not reach the server and closes itself, not busy any more.
    void devicesFailure_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("fault");
        QTest::newRow("refused") << "wrong" << "";
        QTest::newRow("not JSON") << "devices-pass" << "notjson";
        QTest::newRow("slower than the limit") << "devices-pass" << "delay";
    }
    void devicesFailure()
    {
        QFETCH(QString, password);
        QFETCH(QString, fault);
        setVpnCredentials(QStringLiteral("devices.user"), password);
        if (!fault.isEmpty())
            QVERIFY(m_backend.setFault(QLatin1String(Routes::kLoggedDevices), fault,
                                       fault == QLatin1String("delay") ? kRequestLimitMs + 1500 : 0));
        MessageCatcher boxes;
        QElapsedTimer clock;
        clock.start();
        auto page = std::make_unique<DevicesPage>();
        QSignalSpy back(page.get(), &Page::clickBack);
        page->show();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.texts(), QStringList{"Could not connect to server!"}, kRequestLimitMs + 3000);
        QVERIFY(clock.elapsed() < kRequestLimitMs + 1000);
        QCOMPARE(back.count(), 1);
        QVERIFY(!child<QLabel>(page.get(), "lblSpinner")->isVisible());
        QVERIFY(page->findChildren<DeviceWidget *>().isEmpty());
    }
};

QTEST_MAIN(AccountPagesTest)
#include "tst_accountpages.moc"
