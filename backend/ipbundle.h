#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

#include <memory>

namespace Varnel {

// One VPN server entry of the login reply ("ip_bundle"). Records are shared
// between the User's list and whoever holds one; nothing changes a record
// after the login has built it.
class IPBundle
{
public:
    // Reads every field from one "ip_bundle" element; absent members give
    // empty strings and zeros.
    static std::shared_ptr<IPBundle> fromJson(const QJsonObject &entry);

    QString bundleName() const { return m_bundleName; }
    void setBundleName(const QString &v) { m_bundleName = v; }
    QString ipName() const { return m_ipName; }
    void setIpName(const QString &v) { m_ipName = v; }
    QString ip() const { return m_ip; }
    void setIp(const QString &v) { m_ip = v; }
    int isFastServer() const { return m_isFastServer; }
    void setIsFastServer(int v) { m_isFastServer = v; }
    int isGaming() const { return m_isGaming; }
    void setIsGaming(int v) { m_isGaming = v; }
    int isOnlineStream() const { return m_isOnlineStream; }
    void setIsOnlineStream(int v) { m_isOnlineStream = v; }
    int isAdblocker() const { return m_isAdblocker; }
    void setIsAdblocker(int v) { m_isAdblocker = v; }
    QString note() const { return m_note; }
    void setNote(const QString &v) { m_note = v; }
    int network() const { return m_network; }
    void setNetwork(int v) { m_network = v; }
    QString config() const { return m_config; }
    void setConfig(const QString &v) { m_config = v; }
    QString typeTxt() const { return m_typeTxt; }
    void setTypeTxt(const QString &v) { m_typeTxt = v; }
    int type() const { return m_type; }
    void setType(int v) { m_type = v; }
    int priority() const { return m_priority; }
    void setPriority(int v) { m_priority = v; }
    int countryCode() const { return m_countryCode; }
    void setCountryCode(int v) { m_countryCode = v; }
    int vpnServerId() const { return m_vpnServerId; }
    void setVpnServerId(int v) { m_vpnServerId = v; }
    int connectionType() const { return m_connectionType; }
    void setConnectionType(int v) { m_connectionType = v; }
    QString sslIp() const { return m_sslIp; }
    void setSslIp(const QString &v) { m_sslIp = v; }
    int ipId() const { return m_ipId; }
    void setIpId(int v) { m_ipId = v; }
    QString site() const { return m_site; }
    void setSite(const QString &v) { m_site = v; }
    QString platform() const { return m_platform; }
    void setPlatform(const QString &v) { m_platform = v; }
    QString countryName() const { return m_countryName; }
    void setCountryName(const QString &v) { m_countryName = v; }

    bool fastServer() const { return m_isFastServer != 0; }
    bool gamingServer() const { return m_isGaming != 0; }
    bool streamingServer() const { return m_isOnlineStream != 0; }
    bool adblockerServer() const { return m_isAdblocker != 0; }
    // The backend sends "8.8.8.8" for entries the plan does not cover.
    bool isLocked() const { return m_ip == QLatin1String("8.8.8.8"); }

private:
    QString m_bundleName;
    QString m_ipName;
    QString m_ip;
    int m_isFastServer = 0;
    int m_isGaming = 0;
    int m_isOnlineStream = 0;
    int m_isAdblocker = 0;
    QString m_note;
    int m_network = 0;
    QString m_config;
    QString m_typeTxt;
    int m_type = 0;
    int m_priority = 0;
    int m_countryCode = 0;
    int m_vpnServerId = 0;
    int m_connectionType = 0;
    QString m_sslIp;
    int m_ipId = 0;
    QString m_site;
    QString m_platform;
    QString m_countryName;
};

using IPBundleList = QList<std::shared_ptr<IPBundle>>;

// The server list of a login reply, in reply order: OpenVPN entries (type 1)
// and OpenConnect entries (type 2) of connection type 1; every other entry
// is dropped.
IPBundleList bundlesFromReply(const QJsonObject &reply);

} // namespace Varnel
