// The backend client over HTTPS on loopback against the reference backend:
// each call's codes and messages, the backend's faults, requests and records.
#include "backendtest.h"

#include "backend/apirequest.h"
#include "backend/ipbundle.h"
#include "backend/logincache.h"
#include "backend/replyjson.h"
#include "backend/user.h"
#include "backend/vpncredentials.h"
#include "common/appinfo.h"
#include "common/crypto.h"
#include "common/localeinfo.h"
#include "platform/deviceinfo.h"
#include "tools/refbackend/routes.h"

#include <QJsonArray>
#include <QSettings>
#include <QSysInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using namespace Varnel;
namespace Routes = Varnel::RefBackend::Routes;

namespace {

// The route of each call; "table" is the endpoint document.
const QMap<QString, const char *> kRoute {
    {"login", Routes::kLogin},           {"signUp", Routes::kSignUp},        {"forgotPassword", Routes::kForgotPassword},
    {"subscribe", Routes::kSubscribe},   {"redeemVoucher", Routes::kRedeemVoucher},
    {"referInfo", Routes::kReferInfo},   {"referRedeem", Routes::kRefer},    {"loggedDevices", Routes::kLoggedDevices},
    {"table", Routes::kRemoteData}};

const QString kUnavailable = QStringLiteral("<html><body><h1>Service temporarily unavailable</h1>");
const QString kWrongPassword = QStringLiteral("Invalid username or password.");

// Plain HTTP on loopback answering 200 with a refusal, which the reference
// backend gives a recovery only as 403 or 422.
QString refusingBase(QTcpServer &server)
{
    if (!server.isListening() && server.listen(QHostAddress::LocalHost, 0)) {
        QObject::connect(&server, &QTcpServer::newConnection, &server, [&server] {
            QTcpSocket *socket = server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);   // one answer
                const QByteArray body = R"({"response_code":2,"message":"Refused with 200"})";
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
                              + QByteArray::number(body.size()) + "\r\n\r\n" + body);
            });
        });
    }
    return QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort());
}

} // namespace

class BackendClientTest : public BackendTest
{
    Q_OBJECT

    std::unique_ptr<ApiRequest> m_api;
    QTcpServer m_refusing;

    QSettings settings() const { return QSettings(organizationName(), QString::fromLatin1(kApplicationId)); }
    QJsonObject last(const char *path) { return m_backend.last(QLatin1String(path)); }

    // One step in words, giving the call's code, else 0: a call ("signUp
    // new.user secret1 1"), "as USER PASSWORD", "fault CALL MODE [MS]",
    // "timeout MS", "new" (a later start), or "endpoints[-down] [KEY [VALUE]]"
    // (the table stored by an earlier start, at the backend or where nothing
    // listens, one entry replaced or left out; VALUE "refusing": refusingBase()).
    int step(const QString &text)
    {
        const QStringList w = text.split(QLatin1Char(' '));
        const QString op = w.value(0);
        if (op == "as")
            setVpnCredentials(w.value(1), w.value(2));
        if (op == "fault")
            return m_backend.setFault(QLatin1String(kRoute.value(w.value(1))), w.value(2), w.value(3).toInt()) ? 0 : -1;
        if (op == "timeout")
            qputenv("VARNELVPN_HTTP_TIMEOUT_MS", w.value(1).toLatin1());
        if (op.startsWith("endpoints")) {
            QMap<QString, QString> table = ClientSandbox::endpointsAt(op == "endpoints" ? m_backend.baseUrl() : closedBase());
            if (w.size() > 2)
                table.insert(w.value(1), w.value(2) == "refusing" ? refusingBase(m_refusing) : w.value(2));
            else
                table.remove(w.value(1));
            ClientSandbox::storeEndpoints(table);
        }
        if (op == "timeout" || op.startsWith("endpoints") || op == "new")
            m_api = std::make_unique<ApiRequest>();   // reads both when made
        if (op == "ensureEndpoints")
            return m_api->ensureEndpoints() ? 0 : 1;
        if (op == "login")
            return m_api->login(w.value(1), w.value(2));
        if (op == "signUp")
            return m_api->signUp(w.value(1), w.value(2), w.value(3), QString());
        if (op == "forgotPassword")
            return m_api->forgotPassword(w.value(1));
        if (op == "subscribe")
            return m_api->subscribe(w.value(1));
        if (op == "redeemVoucher")
            return m_api->redeemVoucher(w.value(1));
        if (op == "referInfo")
            return m_api->referInfo();
        if (op == "referRedeem")
            return m_api->referRedeem(w.value(1));
        if (op == "loggedDevices")
            return m_api->loggedDevices();
        return 0;
    }

    void callColumns()
    {
        QTest::addColumn<QStringList>("steps");   // the last one is the call looked at
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");     // how the message starts; null: not looked at
        QTest::addColumn<int>("sent");            // requests the backend saw; -1: not counted
    }
    static void call(const char *name, const QStringList &steps, int code, const QString &message = QString(),
                     int sent = -1)
    {
        QTest::newRow(name) << steps << code << message << sent;
    }
    void checkCall()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, message);
        QFETCH(int, sent);
        const QString made = steps.takeLast();
        for (const QString &s : steps)
            QCOMPARE(step(s), 0);
        QTEST(step(made), "code");
        if (!message.isNull())
            QVERIFY2(m_api->message().startsWith(message), qPrintable(m_api->message()));
        if (sent >= 0)
            QCOMPARE(m_backend.totalCount(), sent);
    }

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

    // Each call of the client and what it leaves: the code, the message and
    // the requests it made. Each row starts at the backend's first state.
    void calls_data()
    {
        callColumns();
        call("login", {"login premium.user premium-pass"}, 0, {}, 2);
        call("login, wrong password", {"login premium.user wrong"}, 1, kWrongPassword);
        call("sign-up", {"signUp new.user secret1 1"}, 0, "Your account has been created.", 2);
        call("sign-up, name taken (200, code 2)", {"signUp new.user secret1 0", "signUp new.user secret1 0"}, 3,
             "This username is already taken.");
        call("sign-up, short password (422 JSON)", {"signUp other.user short 0"}, 3, "The password must have at least 6");
        call("recovery", {"forgotPassword premium.user"}, 0, "Password reset instructions");
        call("recovery, refused (200)", {"endpoints forgotPassUrl refusing", "forgotPassword premium.user"}, 3,
             "Refused with 200");
        call("recovery, unknown user (422, not JSON)", {"forgotPassword nobody"}, 3, "User Not Found!");
        call("recovery, suspended (403 JSON)", {"forgotPassword blocked.user"}, 3,
             "This account has been suspended. Please contact support.");
        call("newsletter, no address", {"subscribe "}, 1, "Invalid Email!", 0);
        call("newsletter, no endpoint table: nothing fetched", {"subscribe reader@varnel.test"}, 2,
             "Invalid Subscribe URL", 0);
        call("newsletter", {"ensureEndpoints", "subscribe reader@varnel.test"}, 0, {}, 2);
        call("newsletter, subscribed already", {"ensureEndpoints", "subscribe r@varnel.test", "subscribe r@varnel.test"},
             4, "This e-mail address is already subscribed.");
        call("newsletter, bad address (422 JSON)", {"ensureEndpoints", "subscribe not-an-address"}, 4,
             "Please enter a valid e-mail address.");
        call("voucher, empty: only the endpoint document asked for", {"redeemVoucher "}, 1, "Empty subscription code!", 1);
        call("voucher", {"redeemVoucher VOUCHER-30"}, 0, "Subscription code redeemed", 2);
        call("voucher used", {"redeemVoucher VOUCHER-30", "redeemVoucher VOUCHER-30"}, 4,
             "This subscription code has already been used.");
        call("voucher, wrong password (403 JSON)", {"as premium.user wrong", "redeemVoucher USED-CODE"}, 4, kWrongPassword);
        call("referral page", {"referInfo"}, 0, {}, 2);
        call("referral, own code", {"as free.user free-pass", "referRedeem VRNFREE01"}, 3,
             "You cannot redeem your own referral code.");
        call("referral, in other case", {"as free.user free-pass", "referRedeem vrnprem01"}, 0, {}, 2);
        call("devices", {"loggedDevices"}, 0, {}, 2);
        // The endpoint table: fetched once, then taken from the settings; a
        // stored table needs no fetch, even with an entry missing or the
        // backend down.
        call("table fetched once", {"ensureEndpoints", "ensureEndpoints", "new", "login premium.user premium-pass"}, 0,
             {}, 2);
        call("table stored, the voucher's entry missing", {"endpoints-down RedeemVoucher", "redeemVoucher VOUCHER-30"}, 2,
             "Invalid  URL", 0);
        call("table stored, backend down", {"endpoints-down", "login premium.user premium-pass"}, 2, {}, 0);
    }
    void calls() { checkCall(); }

    // The backend's faults (not JSON, closed, later than the time-out, no endpoint
    // document); after "close" Qt sends once more, so requests are not counted.
    void faults_data()
    {
        callColumns();
        const QString network = QStringLiteral("Network request error");
        call("login, late", {"timeout 400", "fault login delay 3000", "login premium.user premium-pass"}, 2);
        call("sign-up, not JSON", {"fault signUp notjson", "signUp third.user secret1 0"}, 3);
        call("sign-up, closed", {"fault signUp close", "signUp third.user secret1 0"}, 1, network);
        call("sign-up, stored address unusable", {"endpoints signupUrl http://[::1", "signUp third.user secret1 0"}, 1,
             "Invalid Signup URL", 0);
        call("recovery, closed", {"fault forgotPassword close", "forgotPassword premium.user"}, 1, network);
        call("recovery, not JSON: the page is the message", {"fault forgotPassword notjson", "forgotPassword premium.user"},
             3, kUnavailable);
        call("newsletter, closed", {"ensureEndpoints", "fault subscribe close", "subscribe second@varnel.test"}, 3, network);
        call("voucher, not JSON", {"fault redeemVoucher notjson", "redeemVoucher USED-CODE"}, 4, kUnavailable);
        call("voucher, closed", {"fault redeemVoucher close", "redeemVoucher USED-CODE"}, 3, "Could not connect to serve");
        call("referral, not JSON", {"as free.user free-pass", "fault referRedeem notjson", "referRedeem VRNCARD01"}, 2);
        // Without the endpoint document a call asks for it and sends nothing else.
        const QString noTable = QStringLiteral("fault table status500");
        const QString down = QStringLiteral("Could not connect to server!");
        call("login, no endpoint document", {noTable, "login premium.user premium-pass"}, 3, {}, 1);
        call("sign-up, no endpoint document", {noTable, "signUp a.user secret1 0"}, 2, {}, 1);
        call("recovery, no endpoint document", {"fault table notjson", "forgotPassword premium.user"}, 2, {}, 1);
        call("voucher, no endpoint document", {"fault table notjson", "redeemVoucher VOUCHER-30"}, 2, down, 1);
        call("refer info, no endpoint document", {noTable, "referInfo"}, 1, down, 1);
        call("referral, no endpoint document", {noTable, "referRedeem VRNFREE01"}, 1, down, 1);
        call("devices, no endpoint document", {noTable, "loggedDevices"}, 1, down, 1);
    }
    void faults() { checkCall(); }

    // The request layer alone: without an address, or with one that is not
    // valid, nothing is sent or logged (-1); a connection refused gives -2 and
    // both "Network error" lines, code first.
    void failedRequests_data()
    {
        QTest::addColumn<bool>("post");
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("status");
        QTest::newRow("no URL") << false << "" << -1;
        QTest::newRow("invalid URL") << true << "http://[::1" << -1;
        QTest::newRow("refused") << true << closedBase() + Routes::kLogin << -2;
    }
    void failedRequests()
    {
        QFETCH(bool, post);
        QFETCH(QString, target);
        QFETCH(int, status);
        BaseHttpRequest http;
        int got = 0;
        const int mark = ClientSandbox::logMark();
        const QByteArray body = post ? http.post(target, "username=nobody", got, {}) : http.get(target, got);
        QCOMPARE(got, status);
        QVERIFY(body.isEmpty());
        QCOMPARE(m_backend.totalCount(), 0);
        QStringList logged = ClientSandbox::logSince(mark);
        QCOMPARE(logged.replaceInStrings(QRegularExpression(" - .*", QRegularExpression::DotMatchesEverythingOption), {}),
                 status == -1 ? QStringList() : (QStringList {"Network error : code", "Network error : reason"}));
    }

    void untrustedCertificateFailsBeforeAnyRequest()
    {
        RefBackendProcess rogue;
        QVERIFY2(rogue.start({QStringLiteral("--rogue")}), qPrintable(rogue.errorText()));
        qputenv("VARNELVPN_CA_FILE", rogue.caFile().toUtf8());   // trusts the real test CA only
        BaseHttpRequest http;
        int status = 0;
        QVERIFY(http.post(rogue.baseUrl() + QLatin1String(Routes::kLogin), "username=u&pass=p", status, {}).isEmpty());
        QCOMPARE(status, -2);
        QCOMPARE(rogue.totalCount(), 0);
        // Nor is the test CA trusted unless configured: the system store alone does not know it.
        qunsetenv("VARNELVPN_CA_FILE");
        http.get(m_backend.baseUrl() + Routes::kRemoteData, status);
        QCOMPARE(status, -2);
        QCOMPARE(m_backend.totalCount(), 0);
    }

    // The form type and the extra headers (the newsletter's address goes as
    // one); login describes the device, and the credentials arrive unchanged:
    // "+" does not turn into a blank, nor "%41" into "A".
    void requestsCarryWhatTheBackendReads()
    {
        QVERIFY(m_api->ensureEndpoints());
        QCOMPARE(m_api->subscribe("reader@varnel.test"), 0);
        QJsonObject headers = last(Routes::kSubscribe).value("headers").toObject();
        QCOMPARE(headers.value("Content-Type").toString(), QStringLiteral("application/x-www-form-urlencoded"));
        QCOMPARE(headers.value("email").toString(), QStringLiteral("reader@varnel.test"));

        QCOMPARE(m_api->login(QStringLiteral("odd+name"), QString::fromUtf8("p+ss w&rd=1%41é")), 0);
        const QJsonObject request = last(Routes::kLogin);
        QVERIFY(request.value("body").toString().startsWith(
            QStringLiteral("username=odd%2Bname&pass=p%2Bss%20w%26rd%3D1%2541%C3%A9&")));
        QCOMPARE(formNames(request), (QStringList {"username", "pass", "udid", "vpnAppVersion", "brand", "osName",
                                                   "osVersion", "isRooted", "bundle2", "bundle", "device_type",
                                                   "app_id", "player_id"}));
        const DeviceInfo device = deviceInfo();
        QCOMPARE(formValues(request, {"udid", "brand", "osName"}),
                 (QStringList {QSysInfo::machineUniqueId(), device.manufacturer, QSysInfo::productType()}));
        headers = request.value("headers").toObject();
        QCOMPARE((QStringList {headers.value("countryCode").toString(), headers.value("model").toString(),
                               headers.value("osPlatform").toString()}),
                 (QStringList {QString::number(countryCallingCode()), device.model, QSysInfo::productType()}));
        QCOMPARE(m_api->login(QStringLiteral("odd+name"), QString::fromUtf8("p ss w&rd=1Aé")), 1);
        QCOMPARE(m_api->signUp("new.user", "secret1", "1", ""), 0);
        QCOMPARE(formValues(last(Routes::kSignUp), {"timezone", "should_receive_promotion"}),
                 (QStringList {utcOffsetText(), "1"}));
    }

    // A free account: its plan and minutes, 105 locked, 103 (OpenConnect of
    // connection type 0) and 104 (type 3) dropped. Country codes as digits in
    // a string and as a JSON number; the OpenVPN configuration stays encoded,
    // the engine fills in the address.
    void loginFillsAccountAndServers()
    {
        QCOMPARE(m_api->login(QStringLiteral("free.user"), QStringLiteral("free-pass")), 0);
        const auto record = User::instance();
        QCOMPARE((QVariantList {record->planName(), record->validityDate(), record->userStatus(), record->freeMinutes(),
                                record->contactEmail()}),
                 (QVariantList {"Free", QDate::currentDate(), 1, 30, "help@varnel.test"}));
        const IPBundleList list = record->bundles();
        QCOMPARE(list.size(), 3);
        const auto &first = list.at(0);
        QCOMPARE((QVariantList {first->ipId(), list.at(1)->ipId(), list.at(2)->ipId(), first->countryCode(),
                                list.at(1)->countryCode(), QByteArray::fromBase64(first->config().toLatin1()),
                                first->ip(), first->isLocked(), list.at(2)->isLocked()}),
                 (QVariantList {101, 102, 105, 880, 0, QByteArray("client\nremote remoteIP remotePort\n"),
                                "10.8.0.1:1194", false, true}));
        // user_status as a JSON number is not read; a one-digit day.
        QCOMPARE(m_api->login(QStringLiteral("card.user"), QStringLiteral("card-pass")), 0);
        QCOMPARE(qMakePair(record->userStatus(), record->validityDate()), qMakePair(0, QDate(2031, 1, 7)));
    }

    // What the calls leave in the records, and what a refusal or an unreadable
    // answer leaves as it was; an unreadable login reply empties the cache.
    void callsKeepRecords()
    {
        QCOMPARE(m_api->login(QStringLiteral("premium.user"), QStringLiteral("premium-pass")), 0);
        QCOMPARE(m_api->referInfo(), 0);
        QCOMPARE(m_api->loggedDevices(), 0);
        const QJsonObject page = User::instance()->referInfo();
        const QJsonArray devices = User::instance()->loggedDevices();
        QCOMPARE(page.value("referral_code").toString(), QStringLiteral("VRNPREM01"));
        QCOMPARE(devices.at(1).toObject().value("os_name").toString(), QStringLiteral("Android"));
        setVpnCredentials(QStringLiteral("free.user"), QStringLiteral("wrong"));
        QCOMPARE(qMakePair(m_api->referInfo(), m_api->loggedDevices()), qMakePair(3, 3));
        QVERIFY(m_backend.setFault(QStringLiteral("*"), QStringLiteral("notjson")));
        QCOMPARE(qMakePair(m_api->referInfo(), m_api->loggedDevices()), qMakePair(2, 2));
        QCOMPARE(User::instance()->referInfo(), page);
        QCOMPARE(User::instance()->loggedDevices(), devices);
        QVERIFY(QFileInfo(LoginCache::fileName()).size() > 0);
        QCOMPARE(m_api->login(QStringLiteral("premium.user"), QStringLiteral("premium-pass")), 2);
        QCOMPARE(QFileInfo(LoginCache::fileName()).size(), 0);
    }

    // A failed fetch of the table keeps what was stored and is tried again.
    // Its entries come deciphered, except the two the document carries in
    // plain text; a later start takes them from the settings.
    void endpointTableStored()
    {
        ClientSandbox::storeEndpoints({{QStringLiteral("loginUrl"), QStringLiteral("https://old.test/login")}});
        QVERIFY(m_backend.setFault(QLatin1String(Routes::kRemoteData), QStringLiteral("notjson")));
        ApiRequest api;
        QCOMPARE(api.login(QStringLiteral("premium.user"), QStringLiteral("premium-pass")), 3);
        QCOMPARE(settings().allKeys(), QStringList {QStringLiteral("loginUrl")});
        QVERIFY(m_backend.reset());   // the document is back
        QCOMPARE(api.login(QStringLiteral("premium.user"), QStringLiteral("premium-pass")), 0);
        QMap<QString, QString> expected = ClientSandbox::endpointsAt(m_backend.baseUrl());
        expected.insert(QStringLiteral("DecisionData"), QStringLiteral("Feature~~Free~~Premium~~Servers,2,5"));
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            QCOMPARE(settings().value(it.key()).toString(), it.value());
        User::instance()->setDecisionData(QString());
        QVERIFY(ApiRequest().ensureEndpoints());
        QCOMPARE(User::instance()->decisionData(), expected.value(QStringLiteral("DecisionData")));
    }

    void replyIsCachedForOwnerOnly()
    {
        // An earlier cache that others could read, in a folder they could enter.
        QVERIFY(QDir().mkpath(QFileInfo(LoginCache::fileName()).path()));
        QFile old(LoginCache::fileName());
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.close();
        old.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        QCOMPARE(m_api->login(QStringLiteral("premium.user"), QStringLiteral("premium-pass")), 0);
        QCOMPARE(LoginCache::read().object().value("ip_bundle").toArray().size(), 5);
        const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
        for (const QString &path : {LoginCache::fileName(), QFileInfo(LoginCache::fileName()).path()})
            QCOMPARE(QFile::permissions(path) & others, QFileDevice::Permissions());
    }

    // Qt's parser leaks when a key repeats with an object or array value:
    // such replies are refused before it sees them.
    void repeatedKeysRefused_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("refused");
        QTest::newRow("plain") << QByteArray("{\"a\":1,\"b\":{\"a\":1},\"c\":[{\"a\":1},{\"a\":2}]}") << false;
        QTest::newRow("repeated scalar") << QByteArray("{\"a\":1,\"a\":2}") << true;
        QTest::newRow("repeated object") << QByteArray("{\"ip_bundle\":[],\"x\":{},\"x\":{\"y\":1}}") << true;
        QTest::newRow("deep inside") << QByteArray("[1,{\"o\":{\"k\":[],\"k\":[2]}}]") << true;
        QTest::newRow("the same key written with an escape") << QByteArray("{\"ab\":1,\"a\\u0062\":2}") << true;
        QTest::newRow("non-ASCII key, escaped and not") << QByteArray("{\"\xc3\xa9\":1,\"\\u00e9\":2}") << true;
        QTest::newRow("strings that are values") << QByteArray("{\"a\":\"a\",\"b\":\"a\",\"c\":[\"a\",\"a\"]}") << false;
        QTest::newRow("quote inside a key") << QByteArray("{\"a\\\"\":1,\"a\":2,\"\\\\\":3}") << false;
        QTest::newRow("keys after a nested object") << QByteArray("{\"a\":{\"b\":1},\"b\":2,\"a2\":{\"b\":3}}") << false;
    }
    void repeatedKeysRefused()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, refused);
        QCOMPARE(hasRepeatedKey(json), refused);
        QCOMPARE(parseReplyJson(json).isNull(), refused);
        // A login reply so written is unreadable (code 2), like one that is not JSON.
        const QByteArray body = encipher(QString::fromUtf8(json), QString::fromLatin1(kReplyKey)).toLatin1();
        QCOMPARE(ApiRequest::decodeReply(body).isNull(), refused);
    }
};

int main(int argc, char *argv[])
{
    // A computer whose language is not English: month names still come in English.
    qputenv("LC_ALL", "de_DE.UTF-8");
    QCoreApplication app(argc, argv);
    BackendClientTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_backend.moc"
