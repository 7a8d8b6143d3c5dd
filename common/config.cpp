#include "common/config.h"

#include "common/appinfo.h"
#include "common/crypto.h"
#include "common/settingsstore.h"

#include <QSettings>
#include <QStringList>
#include <QVariant>

#include <utility>

namespace Varnel {

namespace {

const QString kFavouritesKey = QStringLiteral("Favourites");
const QString kStateGroup = QStringLiteral("State");

QString favouritesText(const QList<int> &ids)
{
    QString text;
    for (int id : ids)
        text += QString::number(id) + QLatin1Char(':');
    return text;
}

QList<int> parseFavourites(const QString &text)
{
    QList<int> ids;
    const QStringList parts = text.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &part : parts)
        ids.append(part.toInt());   // a part that is not a number reads as 0
    return ids;
}

QString unscramble(const QString &stored)
{
    return stored.isEmpty() ? QString() : decipher(stored, QString::fromLatin1(kCredentialKey));
}

} // namespace

std::shared_ptr<Config> Config::instance()
{
    static const std::shared_ptr<Config> config(new Config);
    return config;
}

void Config::load()
{
    readSettings([this](QSettings &s) {
        m_serverHash = s.value(QStringLiteral("ServerHash")).toString();
        m_connectionHash = s.value(QStringLiteral("ConnectionHash")).toString();
        m_activeServer = s.value(QStringLiteral("ActiveServer"), 0).toInt();
        m_notify = s.value(QStringLiteral("Notify"), false).toBool();
        m_autoLogin = s.value(QStringLiteral("AutoLogin"), false).toBool();
        m_protocol = s.value(QStringLiteral("Protocol"), 0).toInt();
        m_killSwitch = s.value(QStringLiteral("KillSwitch"), false).toBool();
        m_country = s.value(QStringLiteral("Country")).toString();
        m_city = s.value(QStringLiteral("City")).toString();
        m_flag = s.value(QStringLiteral("Flag"), 0).toInt();
        m_connectionState = s.value(QStringLiteral("ConnectionState"), false).toBool();
        m_serverButton = s.value(QStringLiteral("ServerButton"), true).toBool();
        m_autoConnect = s.value(QStringLiteral("AutoConncet"), false).toBool();
        m_refresh = s.value(QStringLiteral("Refresh"), false).toBool();
        m_fastestServer = s.value(QStringLiteral("FastestServer")).toString();
        m_fastestCountryCode = s.value(QStringLiteral("FastestCountryCode"), 0).toInt();
    });
}

void Config::save()
{
    const std::pair<const char *, QVariant> fields[] = {
        {"ServerHash", m_serverHash},
        {"ConnectionHash", m_connectionHash},
        {"ActiveServer", m_activeServer},
        {"Notify", m_notify},
        {"AutoLogin", m_autoLogin},
        {"Protocol", m_protocol},
        {"KillSwitch", m_killSwitch},
        {"Country", m_country},
        {"City", m_city},
        {"Flag", m_flag},
        {"ConnectionState", m_connectionState},
        {"ServerButton", m_serverButton},
        {"AutoConncet", m_autoConnect},
        {"Refresh", m_refresh},
        {"FastestServer", m_fastestServer},
        {"FastestCountryCode", m_fastestCountryCode},
    };
    // Only what the file does not hold yet is set: pages save on every
    // tunnel status, and a file that is rewritten is also synced to disk.
    writeSettings([&fields](QSettings &s) {
        for (const auto &[key, value] : fields) {
            const QString name = QLatin1String(key);
            if (!s.contains(name) || s.value(name).toString() != value.toString())
                s.setValue(name, value);
        }
    });
}

QString Config::serverHash() const { return unscramble(m_serverHash); }
void Config::setServerHash(const QString &plain) { m_serverHash = encipher(plain, QString::fromLatin1(kCredentialKey)); }
QString Config::connectionHash() const { return unscramble(m_connectionHash); }
void Config::setConnectionHash(const QString &plain) { m_connectionHash = encipher(plain, QString::fromLatin1(kCredentialKey)); }

int Config::activeServer() const { return m_activeServer; }
void Config::setActiveServer(int id) { m_activeServer = id; }
int Config::protocol() const { return m_protocol; }
void Config::setProtocol(int protocol) { m_protocol = protocol; }

QList<int> Config::favourites() const { return m_favourites; }

void Config::addFavourite(int id)
{
    if (!m_favourites.contains(id))
        m_favourites.append(id);
}

void Config::removeFavourite(int id) { m_favourites.removeAll(id); }

bool Config::notify() const { return m_notify; }
void Config::setNotify(bool on) { m_notify = on; }
bool Config::autoLogin() const { return m_autoLogin; }

void Config::setAutoLogin(bool on)
{
    m_autoLogin = on;
    // Favourites live in a group named by the account's stored (scrambled) name.
    if (on) {
        readSettings([this](QSettings &s) {
            s.beginGroup(m_serverHash);
            m_favourites = parseFavourites(s.value(kFavouritesKey).toString());
            s.endGroup();
        });
    } else {
        writeSettings([this](QSettings &s) {
            s.beginGroup(m_serverHash);
            s.setValue(kFavouritesKey, favouritesText(m_favourites));
            s.endGroup();
        });
    }
}

bool Config::killSwitch() const { return m_killSwitch; }
void Config::setKillSwitch(bool on) { m_killSwitch = on; }

QString Config::country() const { return m_country; }
QString Config::city() const { return m_city; }
int Config::flag() const { return m_flag; }

void Config::setLocation(const QString &country, const QString &city, int flag)
{
    m_country = country;
    m_city = city;
    m_flag = flag;
}

bool Config::connectionState() const { return m_connectionState; }
void Config::setConnectionState(bool up) { m_connectionState = up; }
bool Config::serverButton() const { return m_serverButton; }
void Config::setServerButton(bool quickAccess) { m_serverButton = quickAccess; }
bool Config::autoConnect() const { return m_autoConnect; }
void Config::setAutoConnect(bool on) { m_autoConnect = on; }
bool Config::refresh() const { return m_refresh; }
void Config::setRefresh(bool on) { m_refresh = on; }
QString Config::fastestServer() const { return m_fastestServer; }
void Config::setFastestServer(const QString &name) { m_fastestServer = name; }
int Config::fastestCountryCode() const { return m_fastestCountryCode; }
void Config::setFastestCountryCode(int code) { m_fastestCountryCode = code; }

void Config::saveState(int first, int second)
{
    writeSettings([first, second](QSettings &s) {
        s.beginGroup(kStateGroup);
        s.setValue(QStringLiteral("firstState"), first);
        s.setValue(QStringLiteral("secoundState"), second);
        s.endGroup();
    });
}

QPair<int, int> Config::loadState() const
{
    QPair<int, int> state;
    readSettings([&state](QSettings &s) {
        state.first = s.value(kStateGroup + QStringLiteral("/firstState"), 0).toInt();
        state.second = s.value(kStateGroup + QStringLiteral("/secoundState"), 0).toInt();
    });
    return state;
}

} // namespace Varnel
