#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include <memory>

class QSettings;

namespace Varnel {

// Persisted user state: a flat set of keys of the per-user settings storage
// (organisation "Morvanta", application "VarnelVPN") mirrored in memory.
// Setters never save; call save(). GUI thread only.
class Config
{
public:
    static std::shared_ptr<Config> instance();

    Config(const Config &) = delete;
    Config &operator=(const Config &) = delete;

    // Reads the 16 top-level keys (not the favourites) with their defaults.
    void load();
    // Writes the same 16 keys at the top level of the storage.
    void save();

    // User name and password: stored scrambled, returned plain ("" when unset).
    QString serverHash() const;
    void setServerHash(const QString &plain);
    QString connectionHash() const;
    void setConnectionHash(const QString &plain);

    int activeServer() const;
    void setActiveServer(int id);

    int protocol() const;
    void setProtocol(int protocol);

    // Favourite server ids of the logged-in account.
    QList<int> favourites() const;
    void addFavourite(int id);      // appends unless present
    void removeFavourite(int id);   // removes every occurrence

    bool notify() const;
    void setNotify(bool on);

    // Logged-in flag. Logging out (false) writes the favourites of the account
    // to the storage; logging in (true) reads them back.
    bool autoLogin() const;
    void setAutoLogin(bool on);

    bool killSwitch() const;
    void setKillSwitch(bool on);

    QString country() const;
    QString city() const;
    int flag() const;
    void setLocation(const QString &country, const QString &city, int flag);

    bool connectionState() const;
    void setConnectionState(bool up);

    bool serverButton() const;
    void setServerButton(bool quickAccess);

    bool autoConnect() const;
    void setAutoConnect(bool on);

    bool refresh() const;
    void setRefresh(bool on);

    QString fastestServer() const;
    void setFastestServer(const QString &name);

    int fastestCountryCode() const;
    void setFastestCountryCode(int code);

    // Navigation state of the logged-in area (group "State"), written and
    // read at once: first = left stack index, second = right stack index.
    void saveState(int first, int second);
    QPair<int, int> loadState() const;

private:
    Config() = default;

    QString m_serverHash;
    QString m_connectionHash;
    int m_activeServer = -1;
    int m_protocol = 0;
    QList<int> m_favourites;
    bool m_notify = false;
    bool m_autoLogin = false;
    bool m_killSwitch = false;
    QString m_country;
    QString m_city;
    int m_flag = 0;
    bool m_connectionState = false;
    bool m_serverButton = true;
    bool m_autoConnect = false;
    bool m_refresh = false;
    QString m_fastestServer;
    int m_fastestCountryCode = 0;
};

} // namespace Varnel
