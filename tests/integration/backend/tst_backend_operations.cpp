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

class BackendOperationsTest : public QObject
{
    Q_OBJECT

    ClientSandbox m_sandbox;
    RefBackendProcess m_backend;
    std::unique_ptr<ApiRequest> m_api;

    QString url(const char *path) const { return m_backend.baseUrl() + QLatin1String(path); }
    int seen(const char *path) { return m_backend.count(QLatin1String(path)); }
    // Until replaced: Qt sends a request again once when the connection closes unanswered.
    void fault(const char *path, const char *mode) { QVERIFY(m_backend.setFault(QLatin1String(path), QLatin1String(mode))); }
    // Endpoints stored as after an earlier start, one of them replaced.
    void storeEndpointsWith(const QString &key, const QString &value)
    {
        QMap<QString, QString> table = ClientSandbox::endpointsAt(m_backend.baseUrl());
        table.insert(key, value);
        ClientSandbox::storeEndpoints(table);
    }

private slots:
    void initTestCase() { QVERIFY2(m_backend.start(), qPrintable(m_backend.errorText())); }
    void init()
    {
        QVERIFY(m_backend.reset());
        m_sandbox.enter(m_backend.baseUrl(), m_backend.caFile());
        m_api = std::make_unique<ApiRequest>();
        setVpnCredentials(QStringLiteral("premium.user"), QStringLiteral("premium-pass"));
    }
    void cleanup()
    {
        m_api.reset();
        m_sandbox.leave();
    }

    void signUp()
    {
        QCOMPARE(m_api->signUp("new.user", "secret1", "1", ""), 0);
        QCOMPARE(m_api->message(), QStringLiteral("Your account has been created."));
        const QJsonObject request = m_backend.last(QLatin1String(Routes::kSignUp));
        QCOMPARE(formNames(request),
                 (QStringList{"username", "password", "should_receive_promotion", "timezone", "subscription_code"}));
        QCOMPARE(formValue(request, "timezone"), utcOffsetText());
        QCOMPARE(m_backend.account("new.user").value("promotions").toBool(), true);

        QCOMPARE(m_api->signUp("new.user", "secret1", "0", ""), 3);   // 200, response_code 2
        QCOMPARE(m_api->message(), QStringLiteral("This username is already taken."));
        QCOMPARE(m_api->signUp("other.user", "short", "0", ""), 3);   // 422 with JSON
        QVERIFY(m_api->message().contains(QStringLiteral("at least 6")));
        fault(Routes::kSignUp, "notjson");
        QCOMPARE(m_api->signUp("third.user", "secret1", "0", ""), 3);
        fault(Routes::kSignUp, "status500");
        QCOMPARE(m_api->signUp("third.user", "secret1", "0", ""), 1);
        fault(Routes::kSignUp, "close");
        QCOMPARE(m_api->signUp("third.user", "secret1", "0", ""), 1);
        QCOMPARE(m_api->message(), QStringLiteral("Network request error"));

        ApiRequest invalid;
        storeEndpointsWith("signupUrl", "http://[::1");
        QCOMPARE(invalid.signUp("third.user", "secret1", "0", ""), 1);
        QCOMPARE(invalid.message(), QStringLiteral("Invalid Signup URL"));
    }

    void forgotPassword()
    {
        QCOMPARE(m_api->forgotPassword("premium.user"), 0);
        QVERIFY(m_api->message().startsWith(QStringLiteral("Password reset instructions")));
        QCOMPARE(m_api->forgotPassword("nobody"), 3);   // 422, not JSON
        QCOMPARE(m_api->message(), QStringLiteral("User Not Found!"));
        QCOMPARE(m_api->forgotPassword("blocked.user"), 3);   // 403 with JSON
        QVERIFY(m_api->message().contains(QStringLiteral("suspended")));
        fault(Routes::kForgotPassword, "notjson");
        QCOMPARE(m_api->forgotPassword("premium.user"), 3);
        QCOMPARE(m_api->message(), QStringLiteral("<html><body><h1>Service temporarily unavailable</h1>"
                                                  "<p>Maintenance in progress.</p></body></html>"));
        fault(Routes::kForgotPassword, "close");
        QCOMPARE(m_api->forgotPassword("premium.user"), 1);
        QCOMPARE(m_api->message(), QStringLiteral("Network request error"));
    }

    void subscribe()
    {
        QCOMPARE(m_api->subscribe(""), 1);
        QCOMPARE(m_api->message(), QStringLiteral("Invalid Email!"));
        QCOMPARE(m_api->subscribe("reader@varnel.test"), 2);   // no endpoint table yet, nothing fetched
        QCOMPARE(m_api->message(), QStringLiteral("Invalid Subscribe URL"));
        QCOMPARE(m_backend.totalCount(), 0);

        QVERIFY(m_api->ensureEndpoints());
        QCOMPARE(m_api->subscribe("reader@varnel.test"), 0);
        QCOMPARE(m_backend.last(QLatin1String(Routes::kSubscribe)).value("headers").toObject().value("email"),
                 QJsonValue("reader@varnel.test"));
        QCOMPARE(m_api->subscribe("reader@varnel.test"), 4);
        QCOMPARE(m_api->message(), QStringLiteral("This e-mail address is already subscribed."));
        QCOMPARE(m_api->subscribe("not-an-address"), 4);   // 422 with JSON
        QCOMPARE(m_api->message(), QStringLiteral("Please enter a valid e-mail address."));
        fault(Routes::kSubscribe, "close");
        QCOMPARE(m_api->subscribe("second@varnel.test"), 3);
        QCOMPARE(m_api->message(), QStringLiteral("Network request error"));
    }

    void redeemVoucher()
    {
        QCOMPARE(m_api->redeemVoucher(""), 1);
        QCOMPARE(m_api->message(), QStringLiteral("Empty subscription code!"));
        QCOMPARE(seen(Routes::kRedeemVoucher), 0);

        QCOMPARE(m_api->redeemVoucher("VOUCHER-30"), 0);
        QVERIFY(m_api->message().startsWith(QStringLiteral("Subscription code redeemed")));
        const QJsonObject request = m_backend.last(QLatin1String(Routes::kRedeemVoucher));
        QCOMPARE(formNames(request), (QStringList{"username", "password", "udid", "subscription_code", "noEncrypted"}));
        QCOMPARE(formValue(request, "udid"), QString::fromLatin1(QSysInfo::machineUniqueId()));
        QCOMPARE(m_api->redeemVoucher("VOUCHER-30"), 4);
        QCOMPARE(m_api->message(), QStringLiteral("This subscription code has already been used."));
        setVpnCredentials(QStringLiteral("premium.user"), QStringLiteral("wrong"));
        QCOMPARE(m_api->redeemVoucher("USED-CODE"), 4);   // 403 with JSON
        QCOMPARE(m_api->message(), QStringLiteral("Invalid username or password."));
        fault(Routes::kRedeemVoucher, "notjson");
        QCOMPARE(m_api->redeemVoucher("USED-CODE"), 4);
        QVERIFY(m_api->message().startsWith(QStringLiteral("<html><body>")));
        fault(Routes::kRedeemVoucher, "close");
        QCOMPARE(m_api->redeemVoucher("USED-CODE"), 3);
        QCOMPARE(m_api->message(), QStringLiteral("Could not connect to serve"));
    }

    void referral()
    {
        QCOMPARE(m_api->referInfo(), 0);
        QCOMPARE(User::instance()->referInfo().value("referral_code").toString(), QStringLiteral("VRNPREM01"));
        QCOMPARE(formNames(m_backend.last(QLatin1String(Routes::kReferInfo))), (QStringList{"username", "password", "udid"}));

        setVpnCredentials(QStringLiteral("free.user"), QStringLiteral("free-pass"));
        QCOMPARE(m_api->referRedeem("VRNFREE01"), 3);
        QCOMPARE(m_api->message(), QStringLiteral("You cannot redeem your own referral code."));
        QCOMPARE(m_api->referRedeem("vrnprem01"), 0);
        QCOMPARE(formNames(m_backend.last(QLatin1String(Routes::kRefer))),
                 (QStringList{"username", "pass", "udid", "referral_code"}));
        QCOMPARE(m_backend.account("premium.user").value("referrals").toInt(), 1);
        QCOMPARE(m_api->referRedeem("VRNCARD01"), 3);
        QCOMPARE(m_api->message(), QStringLiteral("You have already redeemed a referral code."));
        fault(Routes::kRefer, "notjson");
        QCOMPARE(m_api->referRedeem("VRNCARD01"), 2);

        const QJsonObject before = User::instance()->referInfo();
        setVpnCredentials(QStringLiteral("free.user"), QStringLiteral("wrong"));
        QCOMPARE(m_api->referInfo(), 3);   // 403: the page content stays
        QCOMPARE(m_api->message(), QStringLiteral("Invalid username or password."));
        fault(Routes::kReferInfo, "notjson");
        QCOMPARE(m_api->referInfo(), 2);
        QCOMPARE(User::instance()->referInfo(), before);
    }

    void loggedDevices()
    {
        QCOMPARE(m_api->loggedDevices(), 0);
        QCOMPARE(formNames(m_backend.last(QLatin1String(Routes::kLoggedDevices))), (QStringList{"username", "pass", "udid"}));
        const QJsonArray devices = User::instance()->loggedDevices();
        QCOMPARE(devices.size(), 2);
        QCOMPARE(devices.at(1).toObject().value("os_name").toString(), QStringLiteral("Android"));

        setVpnCredentials(QStringLiteral("premium.user"), QStringLiteral("wrong"));
        QCOMPARE(m_api->loggedDevices(), 3);
        QCOMPARE(m_api->message(), QStringLiteral("Invalid username or password."));
        fault(Routes::kLoggedDevices, "notjson");
        QCOMPARE(m_api->loggedDevices(), 2);
        QCOMPARE(User::instance()->loggedDevices(), devices);
    }

    void operationsWithoutEndpointTable()
    {
        QVERIFY(m_backend.setFault(QLatin1String(Routes::kRemoteData), QStringLiteral("status500")));
        const QString text = QStringLiteral("Could not connect to server!");
        QCOMPARE(m_api->signUp("a.user", "secret1", "0", ""), 2);
        QCOMPARE(m_api->forgotPassword("premium.user"), 2);
        QCOMPARE(m_api->redeemVoucher("VOUCHER-30"), 2);
        QCOMPARE(m_api->message(), text);
        QCOMPARE(m_api->referInfo(), 1);
        QCOMPARE(m_api->referRedeem("VRNFREE01"), 1);
        QCOMPARE(m_api->loggedDevices(), 1);
        QCOMPARE(m_api->message(), text);
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
        QByteArray page = m_backend.fetch(checkoutUrl(m_backend.baseUrl(), "monthly", key), &status);
        QCOMPARE(status, 200);
        QVERIFY(page.contains("data-token-state=\"valid\""));
        page = m_backend.fetch(webPageUrl(m_backend.baseUrl() + "/features?src=app", key), &status);
        QVERIFY(page.contains("data-token-state=\"valid\""));

        // Credentials whose password holds "+" and "&" still arrive intact.
        setVpnCredentials(QStringLiteral("odd+name"), QString::fromUtf8("p+ss w&rd=1%41é"));
        page = m_backend.fetch(checkoutUrl(m_backend.baseUrl(), "monthly", key), &status);
        QVERIFY(page.contains("data-token-state=\"valid\""));
        setVpnCredentials(QStringLiteral("premium.user"), QStringLiteral("wrong"));
        page = m_backend.fetch(checkoutUrl(m_backend.baseUrl(), "monthly", key), &status);
        QVERIFY(!page.contains("data-token-state=\"valid\""));
    }
};

QTEST_GUILESS_MAIN(BackendOperationsTest)
#include "tst_backend_operations.moc"
