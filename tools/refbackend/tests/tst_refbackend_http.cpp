// The reference backend as the client meets it: real HTTPS on 127.0.0.1, the shipped demo data.
// Each operation's answers are checked through the client by the backend integration tests.

#include "dataset.h"

#include "common/crypto.h"
#include "testtoken.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <httplib.h>

using namespace Varnel::RefBackend;

namespace {

const char kForm[] = "application/x-www-form-urlencoded";

// One server process of ours, stopped by its own handle when the test ends.
class Backend
{
public:
    ~Backend()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000))
                process_.kill();
            process_.waitForFinished(5000);
        }
    }

    bool start(const QStringList &arguments)
    {
        process_.setProgram(QStringLiteral(REFBACKEND_BIN));
        process_.setArguments(arguments);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start();
        QElapsedTimer timer;
        timer.start();
        QByteArray seen;
        while (timer.elapsed() < 15000 && process_.state() != QProcess::NotRunning) {
            process_.waitForReadyRead(200);
            seen += process_.readAllStandardOutput();
            const int at = seen.indexOf("listening on ");
            const int end = seen.indexOf('\n', at);
            if (at >= 0 && end > at) {
                base_ = QString::fromLatin1(seen.mid(at + 13, end - at - 13));
                port_ = base_.section(QLatin1Char(':'), -1).toInt();
                return port_ > 0;
            }
        }
        return false;
    }

    int port() const { return port_; }
    QString base() const { return base_; }

private:
    QProcess process_;
    QString base_;
    int port_ = 0;
};

QJsonObject jsonOf(const std::string &body)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
}

QJsonObject deciphered(const std::string &body)
{
    return QJsonDocument::fromJson(
               Varnel::decipher(QString::fromStdString(body), QLatin1String(Varnel::kReplyKey)).toUtf8())
        .object();
}

std::string loginForm(const QString &user, const QString &password)
{
    return QStringLiteral("username=%1&pass=%2&udid=machine-1&vpnAppVersion=3.0.4&brand=Acme&osName=windows"
                          "&osVersion=10&isRooted=0&bundle2=1&bundle=Acme&device_type=3&app_id=1&player_id=0")
        .arg(user, password)
        .toStdString();
}

const httplib::Headers kLoginHeaders{{"countryCode", "44"}, {"model", "Box 9000"}, {"osPlatform", "windows"}};

} // namespace

class TestRefBackendHttp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void certificatesFromTheScript();
    void remoteDocumentPointsAtTheOperations();
    void loginRepliesEncipheredPerPlan();
    void formsKeepPlusSignsAndAreLogged();
    void faultsAndCounts();
    void webPagesCheckTheToken();

private:
    std::unique_ptr<httplib::SSLClient> client(bool verify = true, const char *host = "127.0.0.1") const;
    QJsonObject post(const char *path, const std::string &body, int expectedStatus) const;
    QJsonObject loginAs(const QString &user, const QString &password) const;

    QTemporaryDir certs_;
    Backend backend_;
    DataSet demo_;
};

void TestRefBackendHttp::initTestCase()
{
    QVERIFY(certs_.isValid());
    QProcess script;
    script.start(QStringLiteral("bash"), {QStringLiteral(REFBACKEND_CERT_SCRIPT), certs_.path()});
    QVERIFY(script.waitForFinished(60000));
    QCOMPARE(script.exitCode(), 0);
    QVERIFY(backend_.start({QStringLiteral("--cert-dir"), certs_.path()}));
    QString error;
    QVERIFY2(loadDataSet(QStringLiteral(REFBACKEND_DEMO_DATA), QDate::currentDate(), &demo_, &error),
             qPrintable(error));
}

void TestRefBackendHttp::init()
{
    const auto reset = client()->Post("/_control/reset", "scope=all", kForm);
    QVERIFY(reset && reset->status == 200);
}

std::unique_ptr<httplib::SSLClient> TestRefBackendHttp::client(bool verify, const char *host) const
{
    auto c = std::make_unique<httplib::SSLClient>(host, backend_.port());
    c->set_ca_cert_path(certs_.filePath(QStringLiteral("ca.crt")).toStdString().c_str());
    c->enable_server_certificate_verification(verify);
    c->set_read_timeout(10, 0);
    return c;
}

QJsonObject TestRefBackendHttp::post(const char *path, const std::string &body, int expectedStatus) const
{
    const auto res = client()->Post(path, body, kForm);
    if (!res)
        qWarning("POST %s failed: %s", path, httplib::to_string(res.error()).c_str());
    else if (res->status != expectedStatus)
        qWarning("POST %s answered %d: %s", path, res->status, res->body.c_str());
    return res && res->status == expectedStatus ? jsonOf(res->body) : QJsonObject{{QStringLiteral("failed"), true}};
}

QJsonObject TestRefBackendHttp::loginAs(const QString &user, const QString &password) const
{
    const auto res = client()->Post("/api/login.php", kLoginHeaders, loginForm(user, password), kForm);
    return res ? deciphered(res->body) : QJsonObject();
}

void TestRefBackendHttp::certificatesFromTheScript()
{
    // The test CA vouches for both names the client may use.
    for (const char *host : {"127.0.0.1", "localhost"}) {
        const auto res = client(true, host)->Get("/api/getWindowsData.php");
        QVERIFY2(res, host);
        QCOMPARE(res->status, 200);
    }
    // No private key of a CA is left behind.
    QVERIFY(!QFile::exists(certs_.filePath(QStringLiteral("ca.key"))));
    QVERIFY(QFile::exists(certs_.filePath(QStringLiteral("rogue-ca.crt"))));

    Backend rogue;
    QVERIFY(rogue.start({QStringLiteral("--cert-dir"), certs_.path(), QStringLiteral("--rogue")}));
    httplib::SSLClient strict("127.0.0.1", rogue.port());
    strict.set_ca_cert_path(certs_.filePath(QStringLiteral("ca.crt")).toStdString().c_str());
    strict.enable_server_certificate_verification(true);
    const auto refused = strict.Get("/api/getWindowsData.php");
    QVERIFY(!refused);
    QCOMPARE(refused.error(), httplib::Error::SSLServerVerification);
    httplib::SSLClient lax("127.0.0.1", rogue.port());
    lax.enable_server_certificate_verification(false);
    const auto served = lax.Get("/api/getWindowsData.php");
    QVERIFY(served && served->status == 200);
}

void TestRefBackendHttp::remoteDocumentPointsAtTheOperations()
{
    const auto res = client()->Get("/api/getWindowsData.php");
    QVERIFY(res && res->status == 200);
    const QJsonObject fields = jsonOf(res->body).value(QStringLiteral("fields")).toObject();
    const auto field = [&](const char *name) {
        return fields.value(QLatin1String(name)).toObject().value(QStringLiteral("stringValue")).toString();
    };
    const auto endpoint = [&](const char *name) {
        return Varnel::decipher(field(name), QLatin1String(Varnel::kEndpointKey));
    };
    const QString base = backend_.base();
    QCOMPARE(endpoint("app_id"), base + QStringLiteral("/api/login.php"));
    QCOMPARE(field("forgot_url"), base + QStringLiteral("/api/forgot_password.php"));
    QCOMPARE(field("pricing_online"), base + QStringLiteral("/pricing"));
    QCOMPARE(endpoint("free_vs_paid"), demo_.catalogue.decisionData);

    // Every enciphered operation address leads to a route that exists on this server.
    for (const char *name : {"app_id", "signup", "loggedDevice", "email_subs_url", "redeem_voucher", "RererURL",
                             "RererInfo"}) {
        const QString url = endpoint(name);
        QVERIFY2(url.startsWith(base + QStringLiteral("/api/")), name);
        const auto probe = client()->Post(url.mid(base.size()).toStdString(), "", kForm);
        QVERIFY2(probe && probe->status != 404, name);
    }
    const auto firestore = client()->Get("/v1/projects/p/databases/(default)/documents/data/windows");
    QVERIFY(firestore && firestore->status == 200);
    QCOMPARE(jsonOf(firestore->body).value(QStringLiteral("fields")).toObject(), fields);
}

void TestRefBackendHttp::loginRepliesEncipheredPerPlan()
{
    const QDate today = QDate::currentDate();
    const QJsonObject premium = loginAs(QStringLiteral("demo"), QStringLiteral("demo123"));
    QCOMPARE(premium.value(QStringLiteral("response_code")).toInt(), 1);
    QCOMPARE(premium.value(QStringLiteral("user_type")).toInt(), 2);
    QCOMPARE(premium.value(QStringLiteral("expire_in_days")).toInt(), 30);
    QCOMPARE(premium.value(QStringLiteral("validity_date")).toString(), replyDate(today.addDays(30)));
    QVERIFY(premium.value(QStringLiteral("user_status")).isString());
    QVERIFY(premium.value(QStringLiteral("free_minutes")).isString());
    const QJsonObject payment = premium.value(QStringLiteral("in_app_payment_page_data")).toObject();
    QCOMPARE(payment.value(QStringLiteral("web_payment_portal_url")).toString(), backend_.base());
    QCOMPARE(payment.value(QStringLiteral("card_payment_packages")).toArray(), demo_.catalogue.packages);
    QVERIFY(premium.value(QStringLiteral("banner_data")).toObject().value(QStringLiteral("app_home_img")).toString()
                .startsWith(backend_.base()));

    const QJsonArray open = premium.value(QStringLiteral("ip_bundle")).toArray();
    QCOMPARE(open.size(), demo_.catalogue.servers.size());
    int locked = 0;
    QSet<int> types;
    for (const QJsonValue &v : open) {
        QVERIFY(v.toObject().value(QStringLiteral("countryCode")).isString());
        locked += v.toObject().value(QStringLiteral("ip")).toString() == QLatin1String("8.8.8.8");
        types.insert(v.toObject().value(QStringLiteral("type")).toInt());
    }
    QCOMPARE(locked, 0);
    QVERIFY(types.contains(1) && types.contains(2));

    // The same list for a free plan, premium entries locked; an expired plan is free.
    for (const auto &[user, password] : {std::pair{"free", "free123"}, std::pair{"expired", "expired123"}}) {
        const QJsonObject free = loginAs(QLatin1String(user), QLatin1String(password));
        QCOMPARE(free.value(QStringLiteral("user_type")).toInt(), 0);
        const QJsonArray list = free.value(QStringLiteral("ip_bundle")).toArray();
        QCOMPARE(list.size(), open.size());
        int freeLocked = 0;
        for (const QJsonValue &v : list)
            freeLocked += v.toObject().value(QStringLiteral("ip")).toString() == QLatin1String("8.8.8.8");
        QVERIFY(freeLocked > 0 && freeLocked < list.size());
    }
    QCOMPARE(loginAs(QStringLiteral("card"), QStringLiteral("card123")).value(QStringLiteral("user_type")).toInt(), 1);

    // Refusals come enciphered as well, with a message and a code above 1.
    const QJsonObject refused = loginAs(QStringLiteral("demo"), QStringLiteral("wrong"));
    QVERIFY(refused.value(QStringLiteral("response_code")).toInt() > 1);
    QVERIFY(!refused.value(QStringLiteral("message")).toString().isEmpty());
    QVERIFY(loginAs(QStringLiteral("blocked"), QStringLiteral("blocked123")).value(QStringLiteral("response_code")).toInt()
            > 1);

    // The device of the login is recorded, with the model from the extra header.
    const auto state = client()->Get("/_control/account?username=demo");
    QVERIFY(state && state->status == 200);
    const QJsonArray devices = jsonOf(state->body).value(QStringLiteral("devices")).toArray();
    QCOMPARE(devices.last().toObject().value(QStringLiteral("model")).toString(), QStringLiteral("Box 9000"));
    QCOMPARE(devices.last().toObject().value(QStringLiteral("udid")).toString(), QStringLiteral("machine-1"));
}

void TestRefBackendHttp::formsKeepPlusSignsAndAreLogged()
{
    // QUrlQuery leaves "+" and "/" as they are and writes "%" as "%25".
    const QJsonObject created = post("/api/signup.php",
                                     "username=plus&password=a+b/c%25d&should_receive_promotion=1"
                                     "&timezone=+05:30&subscription_code=",
                                     200);
    QCOMPARE(created.value(QStringLiteral("response_code")).toInt(), 1);
    QCOMPARE(loginAs(QStringLiteral("plus"), QStringLiteral("a+b/c%25d")).value(QStringLiteral("response_code")).toInt(),
             1);
    QVERIFY(loginAs(QStringLiteral("plus"), QStringLiteral("a%20b/c%25d")).value(QStringLiteral("response_code")).toInt()
            > 1);

    const auto last = client()->Get("/_control/last?path=/api/login.php");
    QVERIFY(last && last->status == 200);
    const QJsonObject seen = jsonOf(last->body);
    const QJsonArray form = seen.value(QStringLiteral("form")).toArray();
    QCOMPARE(form.size(), 13);
    QCOMPARE(form.at(1).toArray(), (QJsonArray{QStringLiteral("pass"), QStringLiteral("a b/c%d")}));
    QCOMPARE(form.at(12).toArray().at(0).toString(), QStringLiteral("player_id"));
    QCOMPARE(seen.value(QStringLiteral("headers")).toObject().value(QStringLiteral("countryCode")).toString(),
             QStringLiteral("44"));

    const auto account = client()->Get("/_control/account?username=plus");
    QCOMPARE(jsonOf(account->body).value(QStringLiteral("timezone")).toString(), QStringLiteral("+05:30"));
}

void TestRefBackendHttp::faultsAndCounts()
{
    auto c = client();
    QVERIFY(c->Post("/_control/fault", "path=/api/getWindowsData.php&mode=status500&times=1", kForm)->status == 200);
    QCOMPARE(c->Get("/api/getWindowsData.php")->status, 500);
    QCOMPARE(c->Get("/api/getWindowsData.php")->status, 200);

    QVERIFY(c->Post("/_control/fault", "mode=notjson", kForm)->status == 200);
    const auto html = c->Post("/api/refer.php", "username=demo&pass=demo123&referral_code=X", kForm);
    QVERIFY(html && html->status == 200);
    QVERIFY(QJsonDocument::fromJson(QByteArray::fromStdString(html->body)).isNull());

    QVERIFY(c->Post("/_control/fault", "mode=close", kForm)->status == 200);
    const auto closed = client()->Post("/api/login.php", loginForm(QStringLiteral("demo"), QStringLiteral("demo123")),
                                       kForm);
    QVERIFY(!closed);

    QVERIFY(c->Post("/_control/fault", "mode=delay&delay_ms=400", kForm)->status == 200);
    QElapsedTimer timer;
    timer.start();
    const auto slow = client()->Get("/api/getWindowsData.php");
    QVERIFY(slow && slow->status == 200);
    QVERIFY(timer.elapsed() >= 400);
    QCOMPARE(c->Post("/_control/fault", "mode=explode", kForm)->status, 400);

    const auto counts = jsonOf(c->Get("/_control/counts")->body);
    QCOMPARE(counts.value(QStringLiteral("/api/getWindowsData.php")).toInt(), 3);
    QCOMPARE(counts.value(QStringLiteral("/api/refer.php")).toInt(), 1);
    QCOMPARE(counts.value(QStringLiteral("/api/login.php")).toInt(), 1);
    QVERIFY(!counts.contains(QStringLiteral("/_control/fault")));

    QVERIFY(c->Post("/_control/reset", "scope=faults", kForm)->status == 200);
    QCOMPARE(c->Get("/no/such/page")->status, 404);
    QCOMPARE(jsonOf(c->Get("/_control/counts")->body).value(QStringLiteral("/no/such/page")).toInt(), 1);
    QVERIFY(c->Post("/_control/reset", "scope=counts", kForm)->status == 200);
    QVERIFY(jsonOf(c->Get("/_control/counts")->body).isEmpty());
}

void TestRefBackendHttp::webPagesCheckTheToken()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    // Find a token whose Base64 text has a "+", which the browser gets unencoded from QUrlQuery.
    QString token;
    // Three equal characters cover every Base64 alignment; one of them turns into "+".
    for (char c = '#'; c < '~' && !token.contains(QLatin1Char('+')); ++c)
        token = tokenFor(QStringLiteral("demo"), QStringLiteral("demo123"), now + 1'800'000, QString(3, QLatin1Char(c)));
    QVERIFY(token.contains(QLatin1Char('+')));

    const auto page = [&](const QString &target) { return client()->Get(target.toStdString()); };
    const auto valid = page(QStringLiteral("/checkout/yearly?authToken=") + token);
    QVERIFY(valid && valid->status == 200);
    QVERIFY(valid->body.find("data-token-state=\"valid\"") != std::string::npos);
    QVERIFY(valid->body.find("12 Months") != std::string::npos);
    QCOMPARE(page(QStringLiteral("/features?src=app&authToken=") + token)->status, 200);
    QCOMPARE(page(QStringLiteral("/checkout/unknown?authToken=") + token)->status, 404);

    const QString expired = tokenFor(QStringLiteral("demo"), QStringLiteral("demo123"), now - 1000);
    const auto old = page(QStringLiteral("/offer?campaign=home&authToken=") + expired);
    QVERIFY(old && old->status == 403);
    QVERIFY(old->body.find("data-token-state=\"expired\"") != std::string::npos);
    const QString stranger = tokenFor(QStringLiteral("demo"), QStringLiteral("guess"), now + 60000);
    QCOMPARE(page(QStringLiteral("/checkout/yearly?authToken=") + stranger)->status, 403);
    QCOMPARE(page(QStringLiteral("/checkout/yearly"))->status, 403);

    for (const char *picture : {"/img/features.png", "/img/home-banner.png"}) {
        const auto png = client()->Get(picture);
        QVERIFY(png && png->status == 200);
        QVERIFY(png->body.rfind("\x89PNG", 0) == 0);
    }
}

QTEST_GUILESS_MAIN(TestRefBackendHttp)
#include "tst_refbackend_http.moc"
