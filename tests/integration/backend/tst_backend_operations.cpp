// Sign-up, recovery, newsletter, voucher, referral, devices, the Firestore
// document and the web-page token, over HTTPS against the reference backend.
#include "backendtest.h"

#include "backend/apirequest.h"
#include "backend/authtoken.h"
#include "backend/firebasehandler.h"
#include "backend/user.h"
#include "backend/vpncredentials.h"
#include "common/crypto.h"
#include "common/localeinfo.h"
#include "tools/refbackend/routes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSysInfo>
#include <QtTest>

using namespace Varnel;
namespace Routes = Varnel::RefBackend::Routes;

class BackendOperationsTest : public BackendTest
{
    Q_OBJECT

    std::unique_ptr<ApiRequest> m_api;

    // An operation's result code with the message it leaves.
    QPair<int, QString> outcome(int code) const { return qMakePair(code, m_api->message()); }
    int seen(const char *path) { return m_backend.count(QLatin1String(path)); }
    QJsonObject last(const char *path) { return m_backend.last(QLatin1String(path)); }
    // Until replaced: Qt sends a request again once when the connection closes unanswered.
    void fault(const char *path, const char *mode) { QVERIFY(m_backend.setFault(QLatin1String(path), QLatin1String(mode))); }

private slots:
    void init()
    {
        BackendTest::init();
        m_api = std::make_unique<ApiRequest>();
        setVpnCredentials(QStringLiteral("premium.user"), QStringLiteral("premium-pass"));
    }
    void cleanup()
    {
        m_api.reset();
        BackendTest::cleanup();
    }

    void signUp()
    {
        QCOMPARE(outcome(m_api->signUp("new.user", "secret1", "1", "")),
                 qMakePair(0, QString("Your account has been created.")));
        QCOMPARE(formNames(last(Routes::kSignUp)),
                 (QStringList{"username", "password", "should_receive_promotion", "timezone", "subscription_code"}));
        QCOMPARE(formValue(last(Routes::kSignUp), "timezone"), utcOffsetText());
        QCOMPARE(m_backend.account("new.user").value("promotions").toBool(), true);

        // 200 with response_code 2, then 422 with JSON.
        QCOMPARE(outcome(m_api->signUp("new.user", "secret1", "0", "")),
                 qMakePair(3, QString("This username is already taken.")));
        QCOMPARE(m_api->signUp("other.user", "short", "0", ""), 3);
        QVERIFY(m_api->message().contains(QStringLiteral("at least 6")));
        fault(Routes::kSignUp, "notjson");
        QCOMPARE(m_api->signUp("third.user", "secret1", "0", ""), 3);
        fault(Routes::kSignUp, "status500");
        QCOMPARE(m_api->signUp("third.user", "secret1", "0", ""), 1);
        fault(Routes::kSignUp, "close");
        QCOMPARE(outcome(m_api->signUp("third.user", "secret1", "0", "")),
                 qMakePair(1, QString("Network request error")));

        // Endpoints stored as after an earlier start, the sign-up one unusable.
        QMap<QString, QString> table = ClientSandbox::endpointsAt(m_backend.baseUrl());
        table.insert("signupUrl", "http://[::1");
        ClientSandbox::storeEndpoints(table);
        m_api = std::make_unique<ApiRequest>();
        QCOMPARE(outcome(m_api->signUp("third.user", "secret1", "0", "")), qMakePair(1, QString("Invalid Signup URL")));
    }

    void forgotPassword()
    {
        QCOMPARE(m_api->forgotPassword("premium.user"), 0);
        QVERIFY(m_api->message().startsWith(QStringLiteral("Password reset instructions")));
        // 422, not JSON; then 403 with JSON.
        QCOMPARE(outcome(m_api->forgotPassword("nobody")), qMakePair(3, QString("User Not Found!")));
        QCOMPARE(m_api->forgotPassword("blocked.user"), 3);
        QVERIFY(m_api->message().contains(QStringLiteral("suspended")));
        fault(Routes::kForgotPassword, "notjson");
        QCOMPARE(outcome(m_api->forgotPassword("premium.user")),
                 qMakePair(3, QString("<html><body><h1>Service temporarily unavailable</h1>"
                                      "<p>Maintenance in progress.</p></body></html>")));
        fault(Routes::kForgotPassword, "close");
        QCOMPARE(outcome(m_api->forgotPassword("premium.user")), qMakePair(1, QString("Network request error")));
    }

    void subscribe()
    {
        QCOMPARE(outcome(m_api->subscribe("")), qMakePair(1, QString("Invalid Email!")));
        // No endpoint table yet, and nothing fetched.
        QCOMPARE(outcome(m_api->subscribe("reader@varnel.test")), qMakePair(2, QString("Invalid Subscribe URL")));
        QCOMPARE(m_backend.totalCount(), 0);

        QVERIFY(m_api->ensureEndpoints());
        QCOMPARE(m_api->subscribe("reader@varnel.test"), 0);
        QCOMPARE(last(Routes::kSubscribe).value("headers").toObject().value("email"), QJsonValue("reader@varnel.test"));
        QCOMPARE(outcome(m_api->subscribe("reader@varnel.test")),
                 qMakePair(4, QString("This e-mail address is already subscribed.")));
        QCOMPARE(outcome(m_api->subscribe("not-an-address")),   // 422 with JSON
                 qMakePair(4, QString("Please enter a valid e-mail address.")));
        fault(Routes::kSubscribe, "close");
        QCOMPARE(outcome(m_api->subscribe("second@varnel.test")), qMakePair(3, QString("Network request error")));
    }

    void redeemVoucher()
    {
        QCOMPARE(outcome(m_api->redeemVoucher("")), qMakePair(1, QString("Empty subscription code!")));
        QCOMPARE(seen(Routes::kRedeemVoucher), 0);

        QCOMPARE(m_api->redeemVoucher("VOUCHER-30"), 0);
        QVERIFY(m_api->message().startsWith(QStringLiteral("Subscription code redeemed")));
        QCOMPARE(formNames(last(Routes::kRedeemVoucher)),
                 (QStringList{"username", "password", "udid", "subscription_code", "noEncrypted"}));
        QCOMPARE(formValue(last(Routes::kRedeemVoucher), "udid"), QString::fromLatin1(QSysInfo::machineUniqueId()));
        QCOMPARE(outcome(m_api->redeemVoucher("VOUCHER-30")),
                 qMakePair(4, QString("This subscription code has already been used.")));
        setVpnCredentials(QStringLiteral("premium.user"), QStringLiteral("wrong"));
        QCOMPARE(outcome(m_api->redeemVoucher("USED-CODE")),   // 403 with JSON
                 qMakePair(4, QString("Invalid username or password.")));
        fault(Routes::kRedeemVoucher, "notjson");
        QCOMPARE(m_api->redeemVoucher("USED-CODE"), 4);
        QVERIFY(m_api->message().startsWith(QStringLiteral("<html><body>")));
        fault(Routes::kRedeemVoucher, "close");
        QCOMPARE(outcome(m_api->redeemVoucher("USED-CODE")), qMakePair(3, QString("Could not connect to serve")));
    }

    void referral()
    {
        QCOMPARE(m_api->referInfo(), 0);
        QCOMPARE(User::instance()->referInfo().value("referral_code").toString(), QStringLiteral("VRNPREM01"));
        QCOMPARE(formNames(last(Routes::kReferInfo)), (QStringList{"username", "password", "udid"}));

        setVpnCredentials(QStringLiteral("free.user"), QStringLiteral("free-pass"));
        QCOMPARE(outcome(m_api->referRedeem("VRNFREE01")),
                 qMakePair(3, QString("You cannot redeem your own referral code.")));
        QCOMPARE(m_api->referRedeem("vrnprem01"), 0);
        QCOMPARE(formNames(last(Routes::kRefer)), (QStringList{"username", "pass", "udid", "referral_code"}));
        QCOMPARE(m_backend.account("premium.user").value("referrals").toInt(), 1);
        QCOMPARE(outcome(m_api->referRedeem("VRNCARD01")),
                 qMakePair(3, QString("You have already redeemed a referral code.")));
        fault(Routes::kRefer, "notjson");
        QCOMPARE(m_api->referRedeem("VRNCARD01"), 2);

        const QJsonObject before = User::instance()->referInfo();
        setVpnCredentials(QStringLiteral("free.user"), QStringLiteral("wrong"));
        // 403: the page content stays.
        QCOMPARE(outcome(m_api->referInfo()), qMakePair(3, QString("Invalid username or password.")));
        fault(Routes::kReferInfo, "notjson");
        QCOMPARE(m_api->referInfo(), 2);
        QCOMPARE(User::instance()->referInfo(), before);
    }

    void loggedDevices()
    {
        QCOMPARE(m_api->loggedDevices(), 0);
        QCOMPARE(formNames(last(Routes::kLoggedDevices)), (QStringList{"username", "pass", "udid"}));
        const QJsonArray devices = User::instance()->loggedDevices();
        QCOMPARE(devices.size(), 2);
        QCOMPARE(devices.at(1).toObject().value("os_name").toString(), QStringLiteral("Android"));

        setVpnCredentials(QStringLiteral("premium.user"), QStringLiteral("wrong"));
        QCOMPARE(outcome(m_api->loggedDevices()), qMakePair(3, QString("Invalid username or password.")));
        fault(Routes::kLoggedDevices, "notjson");
        QCOMPARE(m_api->loggedDevices(), 2);
        QCOMPARE(User::instance()->loggedDevices(), devices);
    }

    void operationsWithoutEndpointTable()
    {
        fault(Routes::kRemoteData, "status500");
        const QString text = QStringLiteral("Could not connect to server!");
        QCOMPARE(m_api->signUp("a.user", "secret1", "0", ""), 2);
        QCOMPARE(m_api->forgotPassword("premium.user"), 2);
        QCOMPARE(outcome(m_api->redeemVoucher("VOUCHER-30")), qMakePair(2, text));
        QCOMPARE(m_api->referInfo(), 1);
        QCOMPARE(m_api->referRedeem("VRNFREE01"), 1);
        QCOMPARE(outcome(m_api->loggedDevices()), qMakePair(1, text));
        // Every attempt asked for the table again and nothing else was sent.
        QCOMPARE(seen(Routes::kRemoteData), 6);
        QCOMPARE(m_backend.totalCount(), 6);
    }

    void firestoreDocument()
    {
        FirebaseHandler handler;
        QCOMPARE(handler.status(), 200);
        QVERIFY(QJsonDocument::fromJson(handler.byteData()).object().contains(QStringLiteral("fields")));
        QCOMPARE(m_backend.totalCount(), 1);
    }

    void webPagesAcceptTheToken()
    {
        const QString key = QString::fromLatin1(kAuthTokenKey);
        int status = 0;
        const auto tokenAccepted = [&](const QUrl &page) {
            return m_backend.fetch(page, &status).contains("data-token-state=\"valid\"");
        };
        QVERIFY(tokenAccepted(checkoutUrl(m_backend.baseUrl(), "monthly", key)));
        QCOMPARE(status, 200);
        QVERIFY(tokenAccepted(webPageUrl(m_backend.baseUrl() + "/features?src=app", key)));
        // Credentials whose password holds "+" and "&" still arrive intact.
        setVpnCredentials(QStringLiteral("odd+name"), QString::fromUtf8("p+ss w&rd=1%41é"));
        QVERIFY(tokenAccepted(checkoutUrl(m_backend.baseUrl(), "monthly", key)));
        setVpnCredentials(QStringLiteral("premium.user"), QStringLiteral("wrong"));
        QVERIFY(!tokenAccepted(checkoutUrl(m_backend.baseUrl(), "monthly", key)));
    }
};

QTEST_GUILESS_MAIN(BackendOperationsTest)
#include "tst_backend_operations.moc"
