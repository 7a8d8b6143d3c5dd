#include "accountstore.h"
#include "authtoken.h"
#include "faultinjector.h"
#include "serverlist.h"
#include "servergenerator.h"

#include "common/crypto.h"
#include "testtoken.h"

#include <QJsonDocument>
#include <QSet>
#include <QtTest>

using namespace Varnel::RefBackend;

namespace {

const QDate kToday = AccountStore::today();

QJsonObject server(int id, int type, bool premium, const QString &ip)
{
    return QJsonObject{{QStringLiteral("ip_id"), id}, {QStringLiteral("type"), type},
                       {QStringLiteral("ip"), ip}, {QStringLiteral("ssl_ip"), ip.section(QLatin1Char(':'), 0, 0)},
                       {QStringLiteral("premium"), premium}};
}

// A small data set in the data file's own format.
QJsonObject sampleRoot()
{
    const auto account = [](const QString &name, const QString &plan, int days) {
        return QJsonObject{{QStringLiteral("username"), name},
                           {QStringLiteral("password"), name + QStringLiteral("-pw")},
                           {QStringLiteral("plan"), plan},
                           {QStringLiteral("valid_days"), days}};
    };
    QJsonObject limited = account(QStringLiteral("limited"), QStringLiteral("premium"), 10);
    limited.insert(QStringLiteral("max_devices"), 1);
    limited.insert(QStringLiteral("devices"),
                   QJsonArray{QJsonObject{{QStringLiteral("udid"), QStringLiteral("old")},
                                          {QStringLiteral("os_name"), QStringLiteral("Android")}}});
    QJsonObject blocked = account(QStringLiteral("blocked"), QStringLiteral("premium"), 10);
    blocked.insert(QStringLiteral("blocked"), true);
    QJsonObject owner = account(QStringLiteral("owner"), QStringLiteral("scratch_card"), 5);
    owner.insert(QStringLiteral("referral_code"), QStringLiteral("OWNER1"));
    QJsonObject fixed = account(QStringLiteral("fixed"), QStringLiteral("premium"), 0);
    fixed.insert(QStringLiteral("valid_until"), QStringLiteral("2031-02-03"));

    const auto voucher = [](const QString &code, const QString &plan, int days, bool used) {
        return QJsonObject{{QStringLiteral("code"), code}, {QStringLiteral("plan"), plan},
                           {QStringLiteral("days"), days}, {QStringLiteral("used"), used}};
    };
    return QJsonObject{
        {QStringLiteral("referral_reward_days"), 7},
        {QStringLiteral("openvpn_config_template"), QJsonArray{QStringLiteral("client"),
                                                               QStringLiteral("remote remoteIP remotePort")}},
        {QStringLiteral("accounts"),
         QJsonArray{account(QStringLiteral("free"), QStringLiteral("free"), 0),
                    account(QStringLiteral("premium"), QStringLiteral("premium"), 20),
                    account(QStringLiteral("expired"), QStringLiteral("premium"), -1), limited, blocked, owner,
                    fixed}},
        {QStringLiteral("vouchers"), QJsonArray{voucher(QStringLiteral("PREM-30"), QStringLiteral("premium"), 30, false),
                                               voucher(QStringLiteral("CARD-90"), QStringLiteral("scratch_card"), 90, false),
                                               voucher(QStringLiteral("OLD"), QStringLiteral("premium"), 30, true)}},
        {QStringLiteral("servers"),
         QJsonArray{server(1, 1, false, QStringLiteral("127.0.1.1")), server(2, 1, true, QStringLiteral("127.0.1.2")),
                    server(3, 2, true, QStringLiteral("127.0.2.1:443"))}},
    };
}

DataSet sampleData()
{
    DataSet data;
    QString error;
    if (!parseDataSet(sampleRoot(), kToday, &data, &error))
        qFatal("sample data rejected: %s", qPrintable(error));
    return data;
}

Device device(const QString &udid)
{
    Device d;
    d.udid = udid;
    d.osName = QStringLiteral("windows");
    d.model = QStringLiteral("Model ") + udid;
    return d;
}

QDate validUntil(const AccountStore &store, const QString &name)
{
    Account a;
    return store.find(name, &a) ? a.validUntil : QDate();
}

} // namespace

class TestRefBackendStore : public QObject
{
    Q_OBJECT

private slots:
    void dataFileIsReadAndChecked();
    void dataFileRejectsMistakes_data();
    void dataFileRejectsMistakes();
    void loginChecksCredentialsAndRecordsDevices();
    void expiredPaidPlanCountsAsFree();
    void signUpRulesAndVoucherAtSignUp();
    void vouchersAreSingleUseAndCarryPaidTimeOver();
    void referralRewardsBothSidesOnce();
    void resetRestoresTheDataFile();
    void serverListLocksPremiumEntriesForFreePlans();
    void generatorMakesLargeVariedLoopbackLists();
    void faultRulesPreferThePathAndCountDown();
    void authTokenVerdicts();
};

void TestRefBackendStore::dataFileIsReadAndChecked()
{
    const DataSet data = sampleData();
    QCOMPARE(data.accounts.size(), 7);
    QCOMPARE(data.accounts.at(1).validUntil, kToday.addDays(20));
    QCOMPARE(data.accounts.at(6).validUntil, QDate(2031, 2, 3));
    QCOMPARE(data.accounts.at(5).plan, Plan::ScratchCard);
    QCOMPARE(data.catalogue.openVpnTemplate, QStringLiteral("client\nremote remoteIP remotePort\n"));

    // Accounts without a code get distinct generated ones; a given code is kept.
    QSet<QString> codes;
    for (const Account &a : data.accounts) {
        QVERIFY(!a.referralCode.isEmpty());
        codes.insert(a.referralCode);
    }
    QCOMPARE(codes.size(), data.accounts.size());
    QVERIFY(codes.contains(QStringLiteral("OWNER1")));

    QCOMPARE(replyDate(QDate(2026, 3, 5)), QStringLiteral("05-Mar-2026"));
}

void TestRefBackendStore::dataFileRejectsMistakes_data()
{
    QTest::addColumn<QString>("member");
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<QString>("complaint");
    const QJsonObject dup{{QStringLiteral("username"), QStringLiteral("a")}, {QStringLiteral("password"), QStringLiteral("b")}};
    QTest::newRow("duplicate user") << "accounts" << QJsonValue(QJsonArray{dup, dup}) << "duplicate account";
    QTest::newRow("unknown plan") << "accounts"
                                  << QJsonValue(QJsonArray{QJsonObject{{QStringLiteral("username"), QStringLiteral("a")},
                                                                       {QStringLiteral("password"), QStringLiteral("b")},
                                                                       {QStringLiteral("plan"), QStringLiteral("gold")}}})
                                  << "unknown plan";
    QTest::newRow("no password") << "accounts"
                                 << QJsonValue(QJsonArray{QJsonObject{{QStringLiteral("username"), QStringLiteral("a")}}})
                                 << "needs";
    QTest::newRow("voucher without days") << "vouchers"
                                          << QJsonValue(QJsonArray{QJsonObject{{QStringLiteral("code"), QStringLiteral("X")}}})
                                          << "positive";
    QTest::newRow("server not object") << "servers" << QJsonValue(QJsonArray{1}) << "object";
}

void TestRefBackendStore::dataFileRejectsMistakes()
{
    QFETCH(QString, member);
    QFETCH(QJsonValue, value);
    QFETCH(QString, complaint);
    QJsonObject root = sampleRoot();
    root.insert(member, value);
    DataSet data;
    QString error;
    QVERIFY(!parseDataSet(root, kToday, &data, &error));
    QVERIFY2(error.contains(complaint), qPrintable(error));
}

void TestRefBackendStore::loginChecksCredentialsAndRecordsDevices()
{
    AccountStore store(sampleData());
    QCOMPARE(store.login(QStringLiteral("premium"), QStringLiteral("wrong"), device(QStringLiteral("d1"))).refusal,
             Refusal::BadCredentials);
    QCOMPARE(store.login(QStringLiteral("nobody"), QStringLiteral("x"), device(QStringLiteral("d1"))).refusal,
             Refusal::BadCredentials);
    QCOMPARE(store.login(QString(), QString(), device(QStringLiteral("d1"))).refusal, Refusal::MissingInput);
    QCOMPARE(store.login(QStringLiteral("blocked"), QStringLiteral("blocked-pw"), device(QStringLiteral("d1"))).refusal,
             Refusal::Blocked);

    // The same device logging in again is updated, not added twice.
    QVERIFY(store.login(QStringLiteral("premium"), QStringLiteral("premium-pw"), device(QStringLiteral("d1"))).ok());
    Device changed = device(QStringLiteral("d1"));
    changed.appVersion = QStringLiteral("3.0.5");
    const Outcome again = store.login(QStringLiteral("premium"), QStringLiteral("premium-pw"), changed);
    QVERIFY(again.ok());
    QCOMPARE(again.account.devices.size(), 1);
    QCOMPARE(again.account.devices.first().appVersion, QStringLiteral("3.0.5"));
    QVERIFY(store.login(QStringLiteral("premium"), QStringLiteral("premium-pw"), device(QStringLiteral("d2"))).ok());
    Account stored;
    QVERIFY(store.find(QStringLiteral("premium"), &stored));
    QCOMPARE(stored.devices.size(), 2);
    QCOMPARE(stored.devices.at(1).model, QStringLiteral("Model d2"));

    // A full account refuses a new device but still lets a known one in.
    QCOMPARE(store.login(QStringLiteral("limited"), QStringLiteral("limited-pw"), device(QStringLiteral("new"))).refusal,
             Refusal::DeviceLimit);
    QVERIFY(store.login(QStringLiteral("limited"), QStringLiteral("limited-pw"), device(QStringLiteral("old"))).ok());
}

void TestRefBackendStore::expiredPaidPlanCountsAsFree()
{
    const DataSet data = sampleData();
    const Account &expired = data.accounts.at(2);
    QCOMPARE(expired.plan, Plan::Premium);
    QCOMPARE(expired.effectivePlan(kToday), Plan::Free);
    QCOMPARE(expired.daysLeft(kToday), 0);
    const Account &premium = data.accounts.at(1);
    QCOMPARE(premium.effectivePlan(kToday), Plan::Premium);
    QCOMPARE(premium.daysLeft(kToday), 20);
    // The last day still counts.
    QCOMPARE(premium.effectivePlan(kToday.addDays(20)), Plan::Premium);
    QCOMPARE(premium.effectivePlan(kToday.addDays(21)), Plan::Free);
}

void TestRefBackendStore::signUpRulesAndVoucherAtSignUp()
{
    AccountStore store(sampleData());
    const auto signUp = [&](const QString &name, const QString &password, const QString &code = QString()) {
        SignUpRequest r;
        r.username = name;
        r.password = password;
        r.subscriptionCode = code;
        r.timezone = QStringLiteral("+05:30");
        return store.signUp(r);
    };
    QCOMPARE(signUp(QStringLiteral("n1"), QStringLiteral("12345")).refusal, Refusal::BadInput);
    QCOMPARE(signUp(QStringLiteral("two words"), QStringLiteral("123456")).refusal, Refusal::BadInput);
    QCOMPARE(signUp(QString(), QStringLiteral("123456")).refusal, Refusal::MissingInput);
    QCOMPARE(signUp(QStringLiteral("premium"), QStringLiteral("123456")).refusal, Refusal::Taken);
    QCOMPARE(signUp(QStringLiteral("n1"), QStringLiteral("123456"), QStringLiteral("OLD")).refusal, Refusal::UsedCode);
    QCOMPARE(signUp(QStringLiteral("n1"), QStringLiteral("123456"), QStringLiteral("NOPE")).refusal, Refusal::UnknownCode);

    const Outcome plain = signUp(QStringLiteral("n1"), QStringLiteral("123456"));
    QVERIFY(plain.ok());
    QCOMPARE(plain.account.plan, Plan::Free);
    QCOMPARE(plain.account.timezone, QStringLiteral("+05:30"));
    QVERIFY(store.login(QStringLiteral("n1"), QStringLiteral("123456"), device(QStringLiteral("x"))).ok());

    // A code given at sign-up decides the plan and is used up by it.
    const Outcome withCode = signUp(QStringLiteral("n2"), QStringLiteral("123456"), QStringLiteral(" card-90 "));
    QVERIFY(withCode.ok());
    QCOMPARE(withCode.account.plan, Plan::ScratchCard);
    QCOMPARE(withCode.account.validUntil, kToday.addDays(90));
    QVERIFY(withCode.account.referralCode != plain.account.referralCode);
    QCOMPARE(signUp(QStringLiteral("n3"), QStringLiteral("123456"), QStringLiteral("CARD-90")).refusal, Refusal::UsedCode);

    QJsonObject closedRoot = sampleRoot();
    closedRoot.insert(QStringLiteral("signup"), QJsonObject{{QStringLiteral("open"), false}});
    DataSet closedData;
    QString error;
    QVERIFY(parseDataSet(closedRoot, kToday, &closedData, &error));
    AccountStore closed(closedData);
    SignUpRequest r;
    r.username = QStringLiteral("late");
    r.password = QStringLiteral("123456");
    QCOMPARE(closed.signUp(r).refusal, Refusal::Closed);
}

void TestRefBackendStore::vouchersAreSingleUseAndCarryPaidTimeOver()
{
    AccountStore store(sampleData());
    QCOMPARE(store.redeemVoucher(QStringLiteral("free"), QStringLiteral("bad"), QStringLiteral("PREM-30")).refusal,
             Refusal::BadCredentials);
    QCOMPARE(store.redeemVoucher(QStringLiteral("free"), QStringLiteral("free-pw"), QStringLiteral("  ")).refusal,
             Refusal::MissingInput);
    QCOMPARE(store.redeemVoucher(QStringLiteral("free"), QStringLiteral("free-pw"), QStringLiteral("OLD")).refusal,
             Refusal::UsedCode);

    // Free (and expired) accounts start from today ...
    const Outcome fromFree =
        store.redeemVoucher(QStringLiteral("expired"), QStringLiteral("expired-pw"), QStringLiteral("prem-30"));
    QVERIFY(fromFree.ok());
    QCOMPARE(fromFree.account.effectivePlan(kToday), Plan::Premium);
    QCOMPARE(fromFree.account.validUntil, kToday.addDays(30));
    QVERIFY2(fromFree.message.contains(replyDate(kToday.addDays(30))), qPrintable(fromFree.message));
    QCOMPARE(store.redeemVoucher(QStringLiteral("free"), QStringLiteral("free-pw"), QStringLiteral("PREM-30")).refusal,
             Refusal::UsedCode);

    // ... paid accounts keep the days they have left.
    const Outcome fromPaid =
        store.redeemVoucher(QStringLiteral("premium"), QStringLiteral("premium-pw"), QStringLiteral("CARD-90"));
    QVERIFY(fromPaid.ok());
    QCOMPARE(fromPaid.account.plan, Plan::ScratchCard);
    QCOMPARE(validUntil(store, QStringLiteral("premium")), kToday.addDays(20 + 90));
}

void TestRefBackendStore::referralRewardsBothSidesOnce()
{
    AccountStore store(sampleData());
    Account owner;
    QVERIFY(store.find(QStringLiteral("owner"), &owner));
    QCOMPARE(store.redeemReferral(QStringLiteral("owner"), QStringLiteral("owner-pw"), QStringLiteral("OWNER1")).refusal,
             Refusal::OwnCode);
    QCOMPARE(store.redeemReferral(QStringLiteral("free"), QStringLiteral("free-pw"), QStringLiteral("NOPE")).refusal,
             Refusal::UnknownCode);
    QCOMPARE(store.redeemReferral(QStringLiteral("free"), QStringLiteral("free-pw"), QString()).refusal,
             Refusal::MissingInput);

    const Outcome first = store.redeemReferral(QStringLiteral("free"), QStringLiteral("free-pw"), QStringLiteral("owner1"));
    QVERIFY(first.ok());
    // A free redeemer becomes premium for the reward; the owner's paid plan stays and grows.
    QCOMPARE(first.account.plan, Plan::Premium);
    QCOMPARE(first.account.validUntil, kToday.addDays(7));
    Account after;
    QVERIFY(store.find(QStringLiteral("owner"), &after));
    QCOMPARE(after.plan, Plan::ScratchCard);
    QCOMPARE(after.validUntil, owner.validUntil.addDays(7));
    QCOMPARE(after.referrals, 1);

    QCOMPARE(store.redeemReferral(QStringLiteral("free"), QStringLiteral("free-pw"), QStringLiteral("OWNER1")).refusal,
             Refusal::AlreadyRedeemed);
    QVERIFY(store.find(QStringLiteral("owner"), &after));
    QCOMPARE(after.referrals, 1);
}

void TestRefBackendStore::resetRestoresTheDataFile()
{
    AccountStore store(sampleData());
    QVERIFY(store.redeemVoucher(QStringLiteral("free"), QStringLiteral("free-pw"), QStringLiteral("PREM-30")).ok());
    QVERIFY(store.login(QStringLiteral("free"), QStringLiteral("free-pw"), device(QStringLiteral("z"))).ok());
    QVERIFY(store.subscribe(QStringLiteral("a@b.co")).ok());
    QCOMPARE(store.subscribe(QStringLiteral("A@B.CO")).refusal, Refusal::AlreadySubscribed);
    store.reset();
    Account free;
    QVERIFY(store.find(QStringLiteral("free"), &free));
    QCOMPARE(free.effectivePlan(kToday), Plan::Free);
    QVERIFY(free.devices.isEmpty());
    QVERIFY(store.redeemVoucher(QStringLiteral("free"), QStringLiteral("free-pw"), QStringLiteral("PREM-30")).ok());
    QVERIFY(store.subscribe(QStringLiteral("a@b.co")).ok());
    QCOMPARE(store.subscribe(QStringLiteral("not-an-address")).refusal, Refusal::BadInput);
}

void TestRefBackendStore::serverListLocksPremiumEntriesForFreePlans()
{
    QJsonObject root = sampleRoot();
    QJsonArray servers = root.value(QStringLiteral("servers")).toArray();
    QJsonObject own = server(4, 1, false, QStringLiteral("127.0.1.4"));
    own.insert(QStringLiteral("config"), QStringLiteral("my own"));
    servers.append(own);
    root.insert(QStringLiteral("servers"), servers);
    DataSet data;
    QString error;
    QVERIFY(parseDataSet(root, kToday, &data, &error));
    const ServerList list(data.catalogue);

    const QJsonArray paid = list.forPlan(Plan::ScratchCard);
    const QJsonArray free = list.forPlan(Plan::Free);
    QCOMPARE(paid.size(), 4);
    QCOMPARE(free.size(), 4);
    for (int i = 0; i < 4; ++i) {
        QVERIFY(!paid.at(i).toObject().contains(QStringLiteral("premium")));
        QCOMPARE(free.at(i).toObject().value(QStringLiteral("ip_id")), paid.at(i).toObject().value(QStringLiteral("ip_id")));
    }
    // OpenVPN entries get the encoded template and a port; OpenConnect entries and own configs are left alone.
    QCOMPARE(QByteArray::fromBase64(paid.at(1).toObject().value(QStringLiteral("config")).toString().toLatin1()),
             QByteArray("client\nremote remoteIP remotePort\n"));
    QCOMPARE(paid.at(1).toObject().value(QStringLiteral("ip")).toString(), QStringLiteral("127.0.1.2:1194"));
    QVERIFY(!paid.at(2).toObject().contains(QStringLiteral("config")));
    QCOMPARE(paid.at(3).toObject().value(QStringLiteral("config")).toString(), QStringLiteral("my own"));

    QCOMPARE(free.at(0), paid.at(0));
    for (int i : {1, 2}) {
        const QJsonObject locked = free.at(i).toObject();
        QCOMPARE(locked.value(QStringLiteral("ip")).toString(), QStringLiteral("8.8.8.8"));
        QCOMPARE(locked.value(QStringLiteral("ssl_ip")).toString(), QStringLiteral("8.8.8.8"));
        QCOMPARE(locked.value(QStringLiteral("config")).toString(), QString());
    }
}

void TestRefBackendStore::generatorMakesLargeVariedLoopbackLists()
{
    const QJsonArray servers = ServerGenerator::generate(5000, 7);
    QCOMPARE(servers.size(), 5000);
    QCOMPARE(ServerGenerator::generate(5000, 7), servers);
    QVERIFY(ServerGenerator::generate(50, 8) != ServerGenerator::generate(50, 7));

    QSet<int> ids;
    QSet<QString> hosts;
    QMap<QString, int> perCountry;
    int openVpn = 0, kept = 0, dropped = 0, premium = 0, gaming = 0;
    for (const QJsonValue &v : servers) {
        const QJsonObject s = v.toObject();
        ids.insert(s.value(QStringLiteral("ip_id")).toInt());
        const QString host = s.value(QStringLiteral("ssl_ip")).toString();
        hosts.insert(host);
        QVERIFY2(host.startsWith(QStringLiteral("127.")), qPrintable(host));
        QVERIFY(s.value(QStringLiteral("countryCode")).isString());
        perCountry[s.value(QStringLiteral("countryName")).toString()] += 1;
        const int type = s.value(QStringLiteral("type")).toInt();
        const int connection = s.value(QStringLiteral("connection_type")).toInt();
        openVpn += type == 1;
        kept += type == 2 && connection == 1;
        dropped += type == 3 || (type == 2 && connection == 0);
        premium += s.value(QStringLiteral("premium")).toBool();
        gaming += s.value(QStringLiteral("is_gaming")).toInt();
    }
    QCOMPARE(ids.size(), 5000);
    QCOMPARE(hosts.size(), 5000);
    QVERIFY(perCountry.size() >= 30);
    QVERIFY(perCountry.first() > 100);
    QVERIFY(openVpn > 2000 && kept > 1500 && dropped > 50);
    QVERIFY(premium > 2000 && premium < 4000);
    QVERIFY(gaming > 300);
    QCOMPARE(ServerGenerator::loopbackAddress(0), QStringLiteral("127.10.0.1"));
    QCOMPARE(ServerGenerator::loopbackAddress(254), QStringLiteral("127.10.1.1"));
    QCOMPARE(ServerGenerator::loopbackAddress(254 * 256), QStringLiteral("127.11.0.1"));
}

void TestRefBackendStore::faultRulesPreferThePathAndCountDown()
{
    FaultInjector faults;
    Fault everywhere;
    everywhere.mode = Fault::Mode::NotJson;
    faults.set(QStringLiteral("*"), everywhere);
    Fault twice;
    twice.mode = Fault::Mode::Status500;
    twice.delayMs = 5;
    twice.remaining = 2;
    faults.set(QStringLiteral("/a"), twice);

    QCOMPARE(faults.take(QStringLiteral("/a"))->mode, Fault::Mode::Status500);
    QCOMPARE(faults.take(QStringLiteral("/b"))->mode, Fault::Mode::NotJson);
    QCOMPARE(faults.take(QStringLiteral("/a"))->delayMs, 5);
    // Used up: "/a" falls back to the rule for every path.
    QCOMPARE(faults.take(QStringLiteral("/a"))->mode, Fault::Mode::NotJson);
    faults.set(QStringLiteral("*"), Fault());
    QVERIFY(!faults.take(QStringLiteral("/a")));
    QVERIFY(faults.describe().isEmpty());

    Fault::Mode mode;
    QVERIFY(Fault::modeFromName(QStringLiteral("close"), &mode));
    QCOMPARE(mode, Fault::Mode::Close);
    QVERIFY(!Fault::modeFromName(QStringLiteral("explode"), &mode));
}

void TestRefBackendStore::authTokenVerdicts()
{
    AccountStore store(sampleData());
    const qint64 now = 1'700'000'000'000;
    const AuthTokenCheck valid = AuthTokenCheck::of(tokenFor(QStringLiteral("premium"), QStringLiteral("premium-pw"),
                                                             now + 1'800'000),
                                                    store, now);
    QCOMPARE(valid.stateName(), QStringLiteral("valid"));
    QCOMPARE(valid.account.username, QStringLiteral("premium"));
    QCOMPARE(valid.ttl, now + 1'800'000);
    QCOMPARE(AuthTokenCheck::of(tokenFor(QStringLiteral("premium"), QStringLiteral("premium-pw"), now), store, now)
                 .stateName(),
             QStringLiteral("expired"));
    QCOMPARE(AuthTokenCheck::of(tokenFor(QStringLiteral("premium"), QStringLiteral("nope"), now + 1000), store, now)
                 .stateName(),
             QStringLiteral("unknown-account"));
    QCOMPARE(AuthTokenCheck::of(QStringLiteral("bm90IGpzb24="), store, now).stateName(), QStringLiteral("unreadable"));
    QCOMPARE(AuthTokenCheck::of(QString(), store, now).stateName(), QStringLiteral("missing"));
    // A token enciphered with another key does not read as JSON.
    const QString otherKey = Varnel::encipher(QStringLiteral("{\"ttl\":\"1\"}"), QLatin1String(Varnel::kReplyKey));
    QCOMPARE(AuthTokenCheck::of(otherKey, store, now).stateName(), QStringLiteral("unreadable"));
}

QTEST_APPLESS_MAIN(TestRefBackendStore)
#include "tst_refbackend_store.moc"
