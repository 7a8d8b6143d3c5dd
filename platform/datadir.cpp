#include "platform/datadir.h"

#include <QByteArray>
#include <QFile>

namespace Varnel {

#ifdef Q_OS_WIN

QString killSwitchDataDirectory()
{
    return QStringLiteral("C://ProgramData//VarnelVPN//");
}

QString killSwitchStateDirectory()
{
    return QStringLiteral("C:/ProgramData/VarnelVPN/");
}

QString blockScriptName()
{
    return QStringLiteral("block_outbound_except_vpn.bat");
}

QString resetScriptName()
{
    return QStringLiteral("reset_firewall_rules.bat");
}

#else

QString killSwitchDataDirectory()
{
    QString dir = QFile::decodeName(qgetenv("VARNELVPN_DATA_DIR"));
    if (dir.isEmpty())
        dir = QStringLiteral("/var/lib/VarnelVPN");
    // The connect page appends the script name directly.
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

QString killSwitchStateDirectory()
{
    return killSwitchDataDirectory();
}

// nftables scripts, loaded by varnelvpn-service (service/README.md).
QString blockScriptName()
{
    return QStringLiteral("block_outbound_except_vpn.nft");
}

QString resetScriptName()
{
    return QStringLiteral("reset_firewall_rules.nft");
}

#endif

} // namespace Varnel
