// Records, reply parsing and encodings, without a network.
#include "backend/apirequest.h"
#include "backend/authtoken.h"
#include "backend/endpoints.h"
#include "backend/ipbundle.h"
#include "backend/replyjson.h"
#include "backend/user.h"
#include "common/config.h"
#include "common/crypto.h"

#include <QJsonArray>
#include <QtTest>

using namespace Varnel;

namespace {

QJsonObject entry(int ipId, int type, int connectionType)
{
    return QJsonObject{{"ip_id", ipId}, {"type", type}, {"connection_type", connectionType}};
}

QList<int> idsOf(const IPBundleList &bundles)
{
    QList<int> ids;
    for (const auto &bundle : bundles)
        ids << bundle->ipId();
    return ids;
}

} // namespace

class BackendRecordsTest : public QObject
{
    Q_OBJECT

private slots:
    void serverListKeepsOnlyUsableEntries()
    {
        const QJsonArray list{entry(1, 1, 0), entry(2, 2, 0), entry(3, 2, 1), entry(4, 3, 1), entry(5, 1, 7),
                              entry(6, 0, 1)};
        QCOMPARE(idsOf(bundlesFromReply(QJsonObject{{"ip_bundle", list}})), (QList<int>{1, 3, 5}));
        QVERIFY(IPBundle::fromJson(QJsonObject{{"ip", "8.8.8.8"}})->isLocked());
        QVERIFY(!IPBundle::fromJson(QJsonObject{{"ip", "8.8.8.9"}})->isLocked());
        QVERIFY(bundlesFromReply(QJsonObject{}).isEmpty());
    }

    void userFromLoginReply()
    {
        const auto user = User::instance();
        user->setFromLoginReply(QJsonObject{
            {"user_type", 1}, {"expire_in_days", 12}, {"user_status", "3"}, {"free_minutes", 30},
            {"validity_date", "5-Mar-2031"},
            {"in_app_payment_page_data", QJsonObject{{"features_img_block", QJsonObject{{"img_url", "i"}, {"href_com", "h"}}},
                                                     {"card_payment_packages", QJsonArray{QJsonObject{{"id", "m"}}}},
                                                     {"web_payment_portal_url", "w"}}},
            {"banner_data", QJsonObject{{"app_home_img", "b"}, {"onclick_url", "c"}}},
            {"ip_bundle", QJsonArray{entry(9, 1, 0)}}});
        QCOMPARE(user->planName(), QStringLiteral("Scratch Card"));
        // free_minutes sent as a number, not as digits in a string, counts 0.
        QCOMPARE((QList<int>{user->expireInDays(), user->userStatus(), user->freeMinutes()}), (QList<int>{12, 3, 0}));
        QCOMPARE(QLocale::system().name(), QStringLiteral("de_DE"));
        QCOMPARE(user->validityDate(), QDate(2031, 3, 5));
        QCOMPARE(user->featuresImgUrl() + user->featuresHref() + user->webPaymentPortalUrl(), QStringLiteral("ihw"));
        QCOMPARE(user->homeImageUrl() + user->homeImageClickUrl(), QStringLiteral("bc"));
        QCOMPARE(qMakePair(user->cardPaymentPackages().size(), user->bundles().size()), qMakePair(1, 1));

        user->setFromLoginReply(QJsonObject{{"user_type", 2}, {"validity_date", "15-Dec-2030"}});
        QCOMPARE(user->planName(), QStringLiteral("Premium"));
        QCOMPARE(user->validityDate(), QDate(2030, 12, 15));
        QVERIFY(user->bundles().isEmpty());
        QVERIFY(user->cardPaymentPackages().isEmpty());
        QVERIFY(user->featuresHref().isEmpty());
        user->setFromLoginReply(QJsonObject{{"user_type", 7}});
        QCOMPARE(user->planName(), QStringLiteral("Free"));
        QVERIFY(!user->validityDate().isValid());
    }

    void activeBundleLookup()
    {
        const auto user = User::instance();
        const auto config = Config::instance();
        user->setBundles({});
        QVERIFY(!user->activeBundle());

        const QJsonArray list{entry(1, 1, 0), entry(2, 1, 0), entry(2, 2, 1)};
        user->setFromLoginReply(QJsonObject{{"ip_bundle", list}});
        config->setActiveServer(2);
        QCOMPARE(user->activeBundle()->type(), 2);   // the last of two entries with that id
        config->setActiveServer(99);
        QCOMPARE(user->activeBundle(), user->bundles().first());
    }

    void endpointTableFromRemoteDocument()
    {
        // Cipher text made apart from the program: Base64 of the URL XOR "Gv(Hqmbxet".
        const QJsonObject fields{
            {"app_id", QJsonObject{{"stringValue", "LwJcOAJXTVcNWjMTWzxeDBIRShgoEUEmXx0KCA=="}}},
            {"forgot_url", QJsonObject{{"stringValue", "https://plain/forgot"}}},
            {"pricing_online", QJsonObject{{"stringValue", "https://plain/pricing"}}}};
        EndpointTable table;
        table.redeemVoucher = QStringLiteral("old");
        table.setFromRemoteDocument(QJsonObject{{"fields", fields}});
        QCOMPARE(table.login, QStringLiteral("https://h.test/api/login.php"));
        QCOMPARE(table.forgotPassword, QStringLiteral("https://plain/forgot"));
        QCOMPARE(table.paymentData, QStringLiteral("https://plain/pricing"));
        QVERIFY(table.redeemVoucher.isEmpty());   // missing fields are stored empty
        QVERIFY(!table.isComplete());

        for (QString *e : {&table.signup, &table.loggedDevices, &table.subscribe, &table.refer,
                           &table.referInfo, &table.decisionData})
            *e = QStringLiteral("x");
        QVERIFY(table.isComplete());   // the redeem-voucher entry is not needed
        table.referInfo.clear();
        QVERIFY(!table.isComplete());
    }

    void loginReplyDecodingAndCodes()
    {
        // {"response_code":2,"message":"No"} enciphered apart from the program, with bytes after a NUL.
        const QByteArray refusal = QByteArrayLiteral("KU0ICEZYBBkDNzAZAlFNSU1Cfk0XCEZbChAVcFVYI1oKFg==")
                                   + '\0' + QByteArrayLiteral("trailing");
        ApiRequest api;
        QCOMPARE(api.applyLoginReply(ApiRequest::decodeReply(refusal)), 1);
        QCOMPARE(api.message(), QStringLiteral("No"));
        QCOMPARE(api.applyLoginReply(ApiRequest::decodeReply("not a reply")), 2);
        QCOMPARE(api.applyLoginReply(QJsonDocument(QJsonArray{1})), 2);
        QCOMPARE(api.applyLoginReply(QJsonDocument(QJsonObject{{"response_code", 1}, {"user_type", 2}})), 0);
        QCOMPARE(User::instance()->userType(), 2);
        QCOMPARE(api.message(), QStringLiteral("No"));   // success leaves it
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

    void authTokenAndPageAddresses()
    {
        const QString key = QString::fromLatin1(kAuthTokenKey);
        // Expected value made apart from the program (compact JSON, keys sorted, XOR, Base64).
        const QString token = authToken({"u", "p+w"}, "m1", 1700000000000, key);
        QCOMPARE(token, QStringLiteral("CEoCDgYXRCAAMUwPURhZGFdIZBsGW2RTR11TQ0NYQl5NVAN/QmVMGVEdFgYRRnxNHwZkRUcZFxYBBhMCEEYJbQd3Ew=="));

        const QUrl kept = withAuthToken(QUrl("https://h.test/features?src=app"), token, true);
        QCOMPARE(QUrlQuery(kept).queryItemValue("src"), QStringLiteral("app"));
        QVERIFY(!kept.toEncoded().contains('+'));   // "+" would read as a blank
        QCOMPARE(QUrlQuery(kept).queryItemValue("authToken", QUrl::FullyDecoded), token);

        // Read before the token is stamped: the stamp must lie within [before, after].
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        const QUrl checkout = checkoutUrl(QStringLiteral("https://h.test"), QStringLiteral("yearly"), key);
        const qint64 after = QDateTime::currentMSecsSinceEpoch();
        QCOMPARE(checkout.path(), QStringLiteral("/checkout/yearly"));
        QCOMPARE(QUrlQuery(checkout).queryItems().size(), 1);
        QCOMPARE(QUrlQuery(checkout).queryItems().first().first, QStringLiteral("authToken"));
        const QJsonObject payload = QJsonDocument::fromJson(
            decipher(QUrlQuery(checkout).queryItemValue("authToken", QUrl::FullyDecoded), key).toUtf8()).object();
        const qint64 ttl = payload.value("ttl").toString().toLongLong();
        QVERIFY(ttl >= before + 1800000 && ttl <= after + 1800000);
    }
};

int main(int argc, char *argv[])
{
    // A computer whose language is not English: month names still come in English.
    qputenv("LC_ALL", "de_DE.UTF-8");
    QCoreApplication app(argc, argv);
    BackendRecordsTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_backend_records.moc"
