// Every page's backend operation against a backend that fails in each way
// it can (a server error, an answer that is not JSON, a dropped connection,
// no answer within the time limit, nothing listening): the page tells the
// user in a message box, stops being busy within the time limit, and can
// be used again.
#include "backendpagetest.h"
#include "messagecatcher.h"

#include "backend/apirequest.h"
#include "backend/vpncredentials.h"
#include "pages/about/aboutuspage.h"
#include "pages/autologin/autologinpage.h"
#include "pages/devices/devicespage.h"
#include "pages/login/loginpage.h"
#include "pages/referral/referfriendpage.h"
#include "pages/referral/referralredeem.h"
#include "pages/voucher/redeemvoucherpage.h"
#include "tools/refbackend/routes.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

using namespace Varnel;
namespace Routes = Varnel::RefBackend::Routes;

namespace {

constexpr int kRequestLimitMs = 1000;

enum Operation { Login, AutoLogin, SignUp, Recovery, Newsletter, Voucher, ReferInfo, ReferralRedeemOp, Devices };

struct Case {
    const char *name;
    const char *path;
    // Texts a success would show; a fault must show none of them.
    QStringList successTexts;
};

const Case &caseOf(int operation)
{
    static const Case cases[] = {
        {"login", Routes::kLogin, {}},
        {"automatic login", Routes::kLogin, {}},
        {"sign-up", Routes::kSignUp, {"Signup successfull. Login to continue"}},
        {"password recovery", Routes::kForgotPassword, {"A new password was sent to your e-mail address."}},
        {"newsletter", Routes::kSubscribe, {"You are subscribed now!"}},
        {"voucher", Routes::kRedeemVoucher, {}},
        {"refer info", Routes::kReferInfo, {}},
        {"referral redemption", Routes::kRefer, {}},
        {"devices", Routes::kLoggedDevices, {}},
    };
    return cases[operation];
}

void type(QWidget *page, const char *edit, const QString &text)
{
    page->findChild<QLineEdit *>(QLatin1String(edit))->setText(text);
}

void press(QWidget *page, const char *button)
{
    QTest::mouseClick(page->findChild<QPushButton *>(QLatin1String(button)), Qt::LeftButton);
}

} // namespace

class BackendFaultsTest : public BackendPageTest
{
    Q_OBJECT

    // Builds the page of the operation and starts the operation; returns the
    // widget that shows the page is busy (a button, or a spinner label).
    std::unique_ptr<QWidget> start(int operation, QWidget **busy)
    {
        std::unique_ptr<QWidget> page;
        switch (operation) {
        case Login:
        case SignUp:
        case Recovery: {
            page = std::make_unique<LoginPage>();
            page->show();
            if (operation == SignUp)
                press(page.get(), "btnSignup");
            if (operation == Recovery)
                press(page.get(), "btnForgotPassword");
            type(page.get(), "editUsername", QStringLiteral("new.user"));
            type(page.get(), "editPassword", QStringLiteral("secret-pass"));
            type(page.get(), "editConfirmPassword", QStringLiteral("secret-pass"));
            *busy = page->findChild<QPushButton *>(QStringLiteral("btnLogin"));
            press(page.get(), "btnLogin");
            break;
        }
        case AutoLogin: {
            storeLoggedInUser(QStringLiteral("premium.user"), QStringLiteral("premium-pass"));
            page = std::make_unique<AutoLoginPage>();
            *busy = page->findChild<QLabel *>(QStringLiteral("lblBusy"));
            page->show();
            break;
        }
        case Newsletter:
            page = std::make_unique<AboutUsPage>();
            page->show();
            type(page.get(), "editEmail", QStringLiteral("reader@varnel.test"));
            *busy = page->findChild<QPushButton *>(QStringLiteral("btnSubscribe"));
            press(page.get(), "btnSubscribe");
            break;
        case Voucher:
            page = std::make_unique<RedeemVoucherPage>();
            page->show();
            type(page.get(), "editCode", QStringLiteral("VOUCHER-30"));
            *busy = page->findChild<QPushButton *>(QStringLiteral("btnSubmit"));
            press(page.get(), "btnSubmit");
            break;
        case ReferralRedeemOp:
            page = std::make_unique<ReferralRedeem>();
            page->show();
            type(page.get(), "editCode", QStringLiteral("VRNPREM01"));
            *busy = page->findChild<QPushButton *>(QStringLiteral("btnSubmit"));
            press(page.get(), "btnSubmit");
            break;
        case ReferInfo:
            page = std::make_unique<ReferFriendPage>();
            *busy = page->findChild<QLabel *>(QStringLiteral("lblSpinner"));
            page->show();
            break;
        case Devices:
            page = std::make_unique<DevicesPage>();
            *busy = page->findChild<QLabel *>(QStringLiteral("lblSpinner"));
            page->show();
            break;
        }
        return page;
    }

private slots:
    void init()
    {
        BackendPageTest::init();
        ApiRequest::instance()->setTimeout(kRequestLimitMs);
        setVpnCredentials(QStringLiteral("free.user"), QStringLiteral("free-pass"));
    }

    void faults_data()
    {
        QTest::addColumn<int>("operation");
        QTest::addColumn<QString>("fault");
        for (int operation = Login; operation <= Devices; ++operation) {
            for (const char *fault : {"status500", "notjson", "close", "delay", "down"})
                QTest::addRow("%s, %s", caseOf(operation).name, fault) << operation << QString::fromLatin1(fault);
        }
    }
    void faults()
    {
        QFETCH(int, operation);
        QFETCH(QString, fault);
        const Case &c = caseOf(operation);
        // An earlier operation's text, which a fault must not bring back.
        const auto api = ApiRequest::instance();
        QVERIFY(api->ensureEndpoints());
        QCOMPARE(api->subscribe(QStringLiteral("earlier@varnel.test")), 0);
        const QString earlier = api->message();
        if (fault == QLatin1String("down")) {
            useEndpointsAt(closedBase());
            api->loadEndpoints();
        } else {
            QVERIFY(m_backend.setFault(QLatin1String(c.path), fault,
                                       fault == QLatin1String("delay") ? kRequestLimitMs + 1000 : 0));
        }
        MessageCatcher boxes;
        QElapsedTimer clock;
        clock.start();
        QWidget *busy = nullptr;
        const auto page = start(operation, &busy);
        QTRY_COMPARE_WITH_TIMEOUT(boxes.texts().size(), 1, kRequestLimitMs + 4000);
        const QString text = boxes.texts().constFirst();
        QVERIFY2(clock.elapsed() < kRequestLimitMs + 1500, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!text.trimmed().isEmpty());
        QVERIFY2(!c.successTexts.contains(text) && text != earlier, qPrintable(text));
        if (auto *button = qobject_cast<QPushButton *>(busy))
            QVERIFY(button->isEnabled() && !button->text().isEmpty());
        else
            QVERIFY(!busy->isVisible());
        QTest::qWait(50);   // no second box follows
        QCOMPARE(boxes.texts().size(), 1);
    }
};

QTEST_MAIN(BackendFaultsTest)
#include "tst_backendfaults.moc"
