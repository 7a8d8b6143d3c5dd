#include "platform/datadir.h"


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
    return QStringLiteral("/var/lib/VarnelVPN/");
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
