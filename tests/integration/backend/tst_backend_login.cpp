// The request layer, the endpoint store and login, over HTTPS on loopback
// against the reference backend.
#include "backendtest.h"

#include "backend/apirequest.h"
#include "backend/basehttprequest.h"
#include "backend/logincache.h"
#include "backend/user.h"
#include "backend/vpncredentials.h"
#include "common/appinfo.h"
#include "common/config.h"
#include "common/localeinfo.h"
#include "platform/deviceinfo.h"
#include "tools/refbackend/routes.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QSettings>
#include <QSysInfo>
#include <QtTest>

using namespace Varnel;
namespace Routes = Varnel::RefBackend::Routes;

class BackendLoginTest : public BackendTest
{
    Q_OBJECT

    QSettings settings() const { return QSettings(organizationName(), QString::fromLatin1(kApplicationId)); }
    // Both "Network error" lines, code first, right after the mark.
    static void verifyNetworkErrorLogged(int mark)
    {
        const QStringList lines = ClientSandbox::logSince(mark);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.at(0).startsWith(QStringLiteral("Network error : code - ")));
        QVERIFY(lines.at(1).startsWith(QStringLiteral("Network error : reason - ")));
    }

private slots:
    // The request layer.

    // What a request that gives no answer of use returns: its status, the
    // body kept (POST only) and both "Network error" lines, code first.
    // Where: "backend" or "closed" (nothing listens) before the path.
    void failedRequests_data()
    {
        QTest::addColumn<bool>("post");
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("fault");   // at the login route
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        const QString login = QLatin1String(Routes::kLogin);
        QTest::newRow("no URL: nothing sent") << false << "" << "" << "" << -1 << QByteArray();
        QTest::newRow("invalid URL: nothing sent") << true << "http://[::1" << "" << "" << -1 << QByteArray();
        QTest::newRow("refused") << true << "closed" << login << "" << -2 << QByteArray();
        QTest::newRow("connection closed") << true << "backend" << login << "close" << -2 << QByteArray();
        QTest::newRow("HTTP error keeps the POST body") << true << "backend" << QString(Routes::kForgotPassword)
                                                        << "" << 422 << QByteArray("User not found");
        QTest::newRow("HTTP error of a GET") << false << "backend" << "/no/such/page" << "" << 404 << QByteArray();
    }
    void failedRequests()
    {
        QFETCH(bool, post);
        QFETCH(QString, where);
        QFETCH(QString, path);
        QFETCH(QString, fault);
        QFETCH(int, status);
        if (!fault.isEmpty())
            QVERIFY(m_backend.setFault(QLatin1String(Routes::kLogin), fault));
        const QString target = (where == QLatin1String("backend") ? m_backend.baseUrl()
                                : where == QLatin1String("closed") ? closedBase() : where) + path;
        BaseHttpRequest http;
        int got = 0;
        const int mark = ClientSandbox::logMark();
        const QByteArray body = post ? http.post(target, "username=nobody", got, {}) : http.get(target, got);
        QCOMPARE(got, status);
        QTEST(body.trimmed(), "body");
        if (status != -1)
            return verifyNetworkErrorLogged(mark);
        QVERIFY(ClientSandbox::logSince(mark).isEmpty());
        QCOMPARE(m_backend.totalCount(), 0);
    }

    void postSendsFormTypeAndExtraHeadersOnly()
    {
        BaseHttpRequest http;
        int status = 0;
        http.post(url(Routes::kSubscribe), "email=", status, {});
        QJsonObject headers = m_backend.last(QLatin1String(Routes::kSubscribe)).value("headers").toObject();
        QCOMPARE(headers.value("Content-Type").toString(), QStringLiteral("application/x-www-form-urlencoded"));
        const QStringList defaults{"Host", "Content-Type", "Content-Length", "Connection", "Accept-Encoding",
                                   "Accept-Language", "User-Agent"};
        for (const QString &name : headers.keys())
            QVERIFY2(defaults.contains(name), qPrintable(name));

        http.post(url(Routes::kSubscribe), "email=", status, {{"X-One", "1"}, {"email", "é@x"}});
        headers = m_backend.last(QLatin1String(Routes::kSubscribe)).value("headers").toObject();
        QCOMPARE(headers.value("X-One").toString(), QStringLiteral("1"));
        QCOMPARE(headers.value("email").toString(), QStringLiteral("é@x"));
    }

    void untrustedCertificateFailsBeforeAnyRequest()
    {
        RefBackendProcess rogue;
        QVERIFY2(rogue.start({QStringLiteral("--rogue")}), qPrintable(rogue.errorText()));
        qputenv("VARNELVPN_CA_FILE", rogue.caFile().toUtf8());   // trusts the real test CA only
        BaseHttpRequest http;
        int status = 0;
        const int mark = ClientSandbox::logMark();
        QVERIFY(http.post(rogue.baseUrl() + QLatin1String(Routes::kLogin), "username=u&pass=p", status, {})
                    .isEmpty());
        QCOMPARE(status, -2);
        verifyNetworkErrorLogged(mark);
        QCOMPARE(rogue.totalCount(), 0);

        // Nor is the test CA trusted unless configured: the system store alone does not know it.
        qunsetenv("VARNELVPN_CA_FILE");
        http.get(url(Routes::kRemoteData), status);
        QCOMPARE(status, -2);
        QCOMPARE(m_backend.totalCount(), 0);
    }

    void slowAnswerTimesOut()
    {
        QVERIFY(m_backend.setFault(QLatin1String(Routes::kRemoteData), QStringLiteral("delay"), 3000));
        qputenv("VARNELVPN_HTTP_TIMEOUT_MS", "400");
        BaseHttpRequest http;   // takes the bound from the environment
        QCOMPARE(http.timeout(), 400);
        int status = 0;
        const int mark = ClientSandbox::logMark();
        QElapsedTimer clock;
        clock.start();
        QVERIFY(http.get(url(Routes::kRemoteData), status).isEmpty());
        QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(status, -2);
        verifyNetworkErrorLogged(mark);

        // The same through the setter, on a POST of an operation.
        QVERIFY(m_backend.setFault(QLatin1String(Routes::kLogin), QStringLiteral("delay"), 3000));
        ClientSandbox::storeEndpoints(ClientSandbox::endpointsAt(m_backend.baseUrl()));
        ApiRequest api;
        api.setTimeout(300);
        clock.restart();
        QCOMPARE(api.login(QStringLiteral("premium.user"), QStringLiteral("premium-pass")), 2);
        QVERIFY(clock.elapsed() < 2500);
    }

    // The endpoint store.

    void endpointsFetchedOnceThenTakenFromSettings()
    {
        ApiRequest first;
        QVERIFY(first.ensureEndpoints());
        QVERIFY(first.ensureEndpoints());
        QCOMPARE(m_backend.count(QLatin1String(Routes::kRemoteData)), 1);

        // Deciphered values, except the two the document carries in plain text.
        QSettings s = settings();
        QMap<QString, QString> expected = ClientSandbox::endpointsAt(m_backend.baseUrl());
        expected.insert(QStringLiteral("DecisionData"), QStringLiteral("Feature~~Free~~Premium~~Servers,2,5"));
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            QCOMPARE(s.value(it.key()).toString(), it.value());
        QCOMPARE(User::instance()->decisionData(), s.value("DecisionData").toString());

        ApiRequest later;   // a later start of the program
        QCOMPARE(later.login(QStringLiteral("premium.user"), QStringLiteral("premium-pass")), 0);
        QCOMPARE(m_backend.count(QLatin1String(Routes::kRemoteData)), 1);
        QCOMPARE(later.endpoints().login, url(Routes::kLogin));
    }

    void storedEndpointsNeedNoFetch()
    {
        QMap<QString, QString> stored = ClientSandbox::endpointsAt(closedBase());
        stored.remove(QStringLiteral("RedeemVoucher"));
        ClientSandbox::storeEndpoints(stored);
        ApiRequest api;
        QVERIFY(api.ensureEndpoints());
        QVERIFY(api.endpoints().redeemVoucher.isEmpty());
        QCOMPARE(User::instance()->decisionData(), QStringLiteral("Stored~~decision~~data"));
        setVpnCredentials(QStringLiteral("premium.user"), QStringLiteral("premium-pass"));
        QCOMPARE(api.redeemVoucher(QStringLiteral("VOUCHER-30")), 2);
        QCOMPARE(api.message(), QStringLiteral("Invalid  URL"));
        // The stored login address is down: a network failure, and no fetch.
        QCOMPARE(api.login(QStringLiteral("premium.user"), QStringLiteral("premium-pass")), 2);
        QCOMPARE(m_backend.totalCount(), 0);
    }

    void failedFetchKeepsSettingsAndIsRetried_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("status 500") << QStringLiteral("status500");
        QTest::newRow("not JSON") << QStringLiteral("notjson");
        QTest::newRow("closed") << QStringLiteral("close");
    }
    void failedFetchKeepsSettingsAndIsRetried()
    {
        QFETCH(QString, fault);
        QMap<QString, QString> partial{{QStringLiteral("loginUrl"), QStringLiteral("https://old.test/login")}};
        ClientSandbox::storeEndpoints(partial);
        QVERIFY(m_backend.setFault(QLatin1String(Routes::kRemoteData), fault));
        ApiRequest api;
        QCOMPARE(api.login(QStringLiteral("premium.user"), QStringLiteral("premium-pass")), 3);
        QCOMPARE(settings().allKeys(), QStringList{QStringLiteral("loginUrl")});
        QCOMPARE(m_backend.count(QLatin1String(Routes::kLogin)), 0);

        QVERIFY(m_backend.reset());   // the data endpoint is back
        QCOMPARE(api.login(QStringLiteral("premium.user"), QStringLiteral("premium-pass")), 0);
        QCOMPARE(m_backend.count(QLatin1String(Routes::kRemoteData)), 1);
        QCOMPARE(settings().value("loginUrl").toString(), url(Routes::kLogin));
    }

    // Login.

    void loginFillsAccountAndServers_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("plan");
        QTest::addColumn<QDate>("validity");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("freeMinutes");
        QTest::addColumn<bool>("locked");
        QTest::newRow("premium") << "premium.user" << "premium-pass" << "Premium" << QDate(2031, 3, 5) << 1 << 0
                                 << false;
        // user_status sent as a number, one-digit day, free_minutes as digits.
        QTest::newRow("scratch card") << "card.user" << "card-pass" << "Scratch Card" << QDate(2031, 1, 7) << 0
                                      << 45 << false;
        QTest::newRow("free") << "free.user" << "free-pass" << "Free" << QDate::currentDate() << 1 << 30 << true;
    }
    void loginFillsAccountAndServers()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        ApiRequest api;
        QCOMPARE(api.login(user, password), 0);

        const auto record = User::instance();
        QTEST(record->planName(), "plan");
        QTEST(record->validityDate(), "validity");
        QTEST(record->userStatus(), "status");
        QTEST(record->freeMinutes(), "freeMinutes");
        QCOMPARE(record->contactEmail(), user == "premium.user" ? QStringLiteral("premium@varnel.test")
                                                                : QStringLiteral("help@varnel.test"));
        QCOMPARE(record->featuresHref(), m_backend.baseUrl() + QStringLiteral("/features?src=app"));

        // 103 (OpenConnect of connection type 0) and 104 (type 3) are dropped.
        const IPBundleList list = record->bundles();
        QList<int> ids;
        for (const auto &b : list)
            ids << b->ipId();
        QCOMPARE(ids, (QList<int>{101, 102, 105}));
        // Country codes as digits in a string and as a JSON number; the
        // OpenVPN configuration stays encoded, the engine fills in the address.
        const auto &first = list.at(0);
        QCOMPARE((QVariantList{first->countryCode(), list.at(1)->countryCode(), first->bundleName(), first->sslIp(),
                               first->vpnServerId(), first->fastServer(), first->streamingServer(),
                               first->gamingServer(), QByteArray::fromBase64(first->config().toLatin1()), first->ip(),
                               first->isLocked()}),
                 (QVariantList{880, 0, "Bangladesh", "10.8.0.2", 501, true, true, false,
                               QByteArray("client\nremote remoteIP remotePort\n"), "10.8.0.1:1194", false}));
        QTEST(list.at(2)->isLocked(), "locked");
    }

    void loginRequestCarriesDeviceDescription()
    {
        ApiRequest api;
        QCOMPARE(api.login(QStringLiteral("premium.user"), QStringLiteral("premium-pass")), 0);
        const QJsonObject request = m_backend.last(QLatin1String(Routes::kLogin));
        QCOMPARE(formNames(request),
                 (QStringList{"username", "pass", "udid", "vpnAppVersion", "brand", "osName", "osVersion", "isRooted",
                              "bundle2", "bundle", "device_type", "app_id", "player_id"}));
        const DeviceInfo device = deviceInfo();
        QCOMPARE(formValues(request, {"udid", "vpnAppVersion", "brand", "bundle", "osName", "isRooted", "bundle2",
                                      "device_type", "app_id", "player_id"}),
                 (QStringList{QString::fromLatin1(QSysInfo::machineUniqueId()), "3.0.4", device.manufacturer,
                              device.manufacturer, QSysInfo::productType(), "0", "1", "3", "1", "0"}));
        const QJsonObject headers = request.value("headers").toObject();
        QCOMPARE((QStringList{headers.value("countryCode").toString(), headers.value("model").toString(),
                              headers.value("osPlatform").toString()}),
                 (QStringList{QString::number(countryCallingCode()), device.model, QSysInfo::productType()}));
    }

    void credentialsArriveUnchanged()
    {
        // "+" must not turn into a blank on the way, nor "%41" into "A".
        ApiRequest api;
        QCOMPARE(api.login(QStringLiteral("odd+name"), QString::fromUtf8("p+ss w&rd=1%41é")), 0);
        QVERIFY(m_backend.last(QLatin1String(Routes::kLogin)).value("body").toString()
                    .startsWith(QStringLiteral("username=odd%2Bname&pass=p%2Bss%20w%26rd%3D1%2541%C3%A9&")));
        QCOMPARE(api.login(QStringLiteral("odd+name"), QString::fromUtf8("p ss w&rd=1Aé")), 1);
    }

    void refusalsAndUnreadableReplies()
    {
        ApiRequest api;
        QCOMPARE(api.login(QStringLiteral("premium.user"), QStringLiteral("wrong")), 1);
        QCOMPARE(api.message(), QStringLiteral("Invalid username or password."));
        QCOMPARE(api.login(QStringLiteral("blocked.user"), QStringLiteral("blocked-pass")), 1);
        QVERIFY(api.message().contains(QStringLiteral("suspended")));

        QVERIFY(m_backend.setFault(QLatin1String(Routes::kLogin), QStringLiteral("notjson"), 0, 1));
        QCOMPARE(api.login(QStringLiteral("premium.user"), QStringLiteral("premium-pass")), 2);
        QCOMPARE(QFileInfo(LoginCache::fileName()).size(), 0);
        QVERIFY(api.message().contains(QStringLiteral("suspended")));   // unchanged
    }

    void replyIsCachedForOwnerOnly()
    {
        // An earlier cache that others could read, in a folder they could enter.
        QVERIFY(QDir().mkpath(QFileInfo(LoginCache::fileName()).path()));
        QFile old(LoginCache::fileName());
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.close();
        old.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        ApiRequest api;
        QCOMPARE(api.login(QStringLiteral("premium.user"), QStringLiteral("premium-pass")), 0);
        const QJsonObject cached = LoginCache::read().object();
        QCOMPARE(cached.value("ip_bundle").toArray().size(), 5);
        const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
        for (const QString &path : {LoginCache::fileName(), QFileInfo(LoginCache::fileName()).path()})
            QCOMPARE(QFile::permissions(path) & others, QFileDevice::Permissions());
    }

    void autoLoginAnswersFromCache()
    {
        ClientSandbox::storeEndpoints(ClientSandbox::endpointsAt(m_backend.baseUrl()));
        LoginCache::write(QJsonDocument(QJsonObject{{"response_code", 2}, {"message", "Cached refusal"}}));
        ApiRequest api;
        // Logged out: the cache is not used and the network answer replaces it.
        QCOMPARE(api.login(QStringLiteral("premium.user"), QStringLiteral("premium-pass")), 0);
        QCOMPARE(m_backend.count(QLatin1String(Routes::kLogin)), 1);
        QCOMPARE(LoginCache::read().object().value("response_code").toInt(), 1);

        Config::instance()->setAutoLogin(true);
        LoginCache::write(QJsonDocument(QJsonObject{{"response_code", 2}, {"message", "Cached refusal"}}));
        QCOMPARE(api.login(QStringLiteral("premium.user"), QStringLiteral("premium-pass")), 1);
        QCOMPARE(api.message(), QStringLiteral("Cached refusal"));
        LoginCache::write(QJsonDocument(QJsonObject{{"response_code", 1}, {"user_type", 1}}));
        QCOMPARE(api.login(QStringLiteral("premium.user"), QStringLiteral("premium-pass")), 0);
        QCOMPARE(User::instance()->userType(), 1);
        QCOMPARE(m_backend.count(QLatin1String(Routes::kLogin)), 1);

        LoginCache::write(QJsonDocument());   // an empty cache goes to the network
        QCOMPARE(api.login(QStringLiteral("premium.user"), QStringLiteral("premium-pass")), 0);
        QCOMPARE(m_backend.count(QLatin1String(Routes::kLogin)), 2);
    }
};

QTEST_GUILESS_MAIN(BackendLoginTest)
#include "tst_backend_login.moc"
