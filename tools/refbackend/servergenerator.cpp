#include "servergenerator.h"

#include <QJsonObject>
#include <QRandomGenerator>

namespace Varnel::RefBackend {

namespace {

struct Country {
    const char *name;
    int code;              // ISO 3166-1 numeric
    const char *cities[3];
};

const Country kCountries[] = {
    {"United States", 840, {"New York", "Los Angeles", "Dallas"}},
    {"Canada", 124, {"Toronto", "Montreal", "Vancouver"}},
    {"United Kingdom", 826, {"London", "Manchester", nullptr}},
    {"Germany", 276, {"Frankfurt", "Berlin", "Munich"}},
    {"France", 250, {"Paris", "Marseille", nullptr}},
    {"Netherlands", 528, {"Amsterdam", "Rotterdam", nullptr}},
    {"Switzerland", 756, {"Z\u00fcrich", "Geneva", nullptr}},
    {"Sweden", 752, {"Stockholm", nullptr, nullptr}},
    {"Norway", 578, {"Oslo", nullptr, nullptr}},
    {"Spain", 724, {"Madrid", "Barcelona", nullptr}},
    {"Italy", 380, {"Milan", "Rome", nullptr}},
    {"Poland", 616, {"Warsaw", nullptr, nullptr}},
    {"Japan", 392, {"Tokyo", "Osaka", nullptr}},
    {"Singapore", 702, {"Singapore", nullptr, nullptr}},
    {"India", 356, {"Mumbai", "Bangalore", nullptr}},
    {"Bangladesh", 50, {"Dhaka", nullptr, nullptr}},
    {"Australia", 36, {"Sydney", "Melbourne", nullptr}},
    {"Brazil", 76, {"S\u00e3o Paulo", nullptr, nullptr}},
    {"South Africa", 710, {"Johannesburg", nullptr, nullptr}},
    {"United Arab Emirates", 784, {"Dubai", nullptr, nullptr}},
    {"Turkey", 792, {"Istanbul", nullptr, nullptr}},
    {"Mexico", 484, {"Mexico City", nullptr, nullptr}},
    {"Argentina", 32, {"Buenos Aires", nullptr, nullptr}},
    {"Hong Kong", 344, {"Hong Kong", nullptr, nullptr}},
    {"South Korea", 410, {"Seoul", nullptr, nullptr}},
    {"Ireland", 372, {"Dublin", nullptr, nullptr}},
    {"Finland", 246, {"Helsinki", nullptr, nullptr}},
    {"Denmark", 208, {"Copenhagen", nullptr, nullptr}},
    {"Austria", 40, {"Vienna", nullptr, nullptr}},
    {"Belgium", 56, {"Brussels", nullptr, nullptr}},
    {"Czech Republic", 203, {"Prague", nullptr, nullptr}},
    {"Romania", 642, {"Bucharest", nullptr, nullptr}},
    {"Israel", 376, {"Tel Aviv", nullptr, nullptr}},
    {"Malaysia", 458, {"Kuala Lumpur", nullptr, nullptr}},
    {"Indonesia", 360, {"Jakarta", nullptr, nullptr}},
    {"Vietnam", 704, {"Hanoi", nullptr, nullptr}},
    {"Chile", 152, {"Santiago", nullptr, nullptr}},
    {"Portugal", 620, {"Lisbon", nullptr, nullptr}},
    {"Greece", 300, {"Athens", nullptr, nullptr}},
    {"Ukraine", 804, {"Kyiv", nullptr, nullptr}},
};

int percentRoll(QRandomGenerator &random, int percent)
{
    return int(random.bounded(100) < percent);
}

QString cityOf(const Country &country, int serial)
{
    int cities = 0;
    while (cities < 3 && country.cities[cities])
        ++cities;
    return QString::fromUtf8(country.cities[serial % cities]);
}

} // namespace

QString ServerGenerator::loopbackAddress(int index)
{
    constexpr int kPerBlock = 254 * 256;
    return QStringLiteral("127.%1.%2.%3")
        .arg(10 + index / kPerBlock)
        .arg((index / 254) % 256)
        .arg(index % 254 + 1);
}

QJsonArray ServerGenerator::generate(int count, quint32 seed)
{
    QRandomGenerator random(seed);
    constexpr int kCountryCount = int(sizeof kCountries / sizeof kCountries[0]);
    QJsonArray servers;
    for (int i = 0; i < count; ++i) {
        const Country &country = kCountries[i % kCountryCount];
        const int serial = i / kCountryCount;
        const QString host = loopbackAddress(i);
        // Mostly OpenVPN and kept OpenConnect entries; a few the client must drop.
        const quint32 kind = random.bounded(100);
        const int type = kind < 55 ? 1 : (kind < 97 ? 2 : 3);
        const int connectionType = type == 2 ? (kind < 92 ? 1 : 0) : int(random.bounded(2));
        const QString city = cityOf(country, serial);

        QJsonObject entry{
            {QStringLiteral("ip_id"), i + 1},
            {QStringLiteral("bundleName"), QString::fromUtf8(country.name)},
            {QStringLiteral("countryName"), QString::fromUtf8(country.name)},
            {QStringLiteral("countryCode"), QString::number(country.code)},
            {QStringLiteral("ipName"), QStringLiteral("%1 #%2").arg(city).arg(serial + 1)},
            {QStringLiteral("ip"), type == 1 ? host : host + QStringLiteral(":443")},
            {QStringLiteral("ssl_ip"), host},
            {QStringLiteral("type"), type},
            {QStringLiteral("typeTxt"), type == 1 ? QStringLiteral("openvpn") : QStringLiteral("anyconnect")},
            {QStringLiteral("connection_type"), connectionType},
            {QStringLiteral("is_fast_server"), percentRoll(random, 20)},
            {QStringLiteral("is_gaming"), percentRoll(random, 15)},
            {QStringLiteral("is_online_stream"), percentRoll(random, 15)},
            {QStringLiteral("is_adblocker"), percentRoll(random, 10)},
            {QStringLiteral("priority"), int(random.bounded(1, 101))},
            {QStringLiteral("network"), int(random.bounded(1, 4))},
            {QStringLiteral("vpn_server_id"), 1000 + i},
            {QStringLiteral("note"), QString()},
            {QStringLiteral("site"), QStringLiteral("generated")},
            {QStringLiteral("platform"), QStringLiteral("linux")},
            {QStringLiteral("premium"), random.bounded(100) < 60},
        };
        servers.append(entry);
    }
    return servers;
}

} // namespace Varnel::RefBackend
