#include "vpn/tunnelinfo.h"

#include "common/pushedsettings.h"

#include <QDebug>

#include <openconnect.h>

#include <cstdio>

namespace Varnel {

namespace {

QString joined(const char *address, const char *netmask)
{
    QString text = QString::fromLatin1(address);
    if (netmask)
        text += QLatin1Char('/') + QString::fromLatin1(netmask);
    return text;
}

} // namespace

void TunnelInfo::readAddresses(const oc_ip_info &info)
{
    if (info.addr)
        ipv4 = joined(info.addr, info.netmask);
    if (info.addr6)
        ipv6 = joined(info.addr6, info.netmask6);
    dns = info.dns[0] ? QString::fromLatin1(info.dns[0]) : QString();
    if (info.dns[1]) {
        dns += QStringLiteral(", ") + QString::fromLatin1(info.dns[1]);
        qDebug() << "m_dns:::::" << dns;
    }
    if (info.dns[2]) {
        dns += QLatin1Char(' ') + QString::fromLatin1(info.dns[2]);
        qDebug() << "m_dns:::::" << dns;
    }
}

ServiceProtocol::Message configureRequest(const std::string &device, const oc_ip_info &info)
{
    using namespace PushedSettings;
    ServiceProtocol::Message configure("configure");
    configure.add("device", device);
    if (info.addr)
        addPrefix(configure, "address4", info.addr, info.netmask ? prefixLength(info.netmask) : 32);
    // The library gives the IPv6 address with its prefix in netmask6.
    if (info.netmask6 && std::string(info.netmask6).find('/') != std::string::npos)
        configure.add("address6", info.netmask6);
    else if (info.addr6)
        configure.add("address6", std::string(info.addr6) + "/128");
    if (info.mtu > 0)
        configure.add("mtu", std::to_string(info.mtu));

    bool routes4 = false;
    bool routes6 = false;
    for (const oc_split_include *route = info.split_includes; route; route = route->next) {
        if (!route->route)
            continue;
        (std::string(route->route).find(':') == std::string::npos ? routes4 : routes6) = true;
        addRouteText(configure, "route", route->route);
    }
    if (info.addr && !routes4)
        configure.add("route", "0.0.0.0/0");
    if (configure.has("address6") && !routes6)
        configure.add("route", "::/0");
    for (const oc_split_include *route = info.split_excludes; route; route = route->next) {
        if (route->route)
            addRouteText(configure, "exclude", route->route);
    }
    for (const char *server : info.dns) {
        if (server)
            configure.add("dns", server);
    }
    return configure;
}

QString formatProgress(const char *format, va_list arguments)
{
    char buffer[512];
    const int length = std::vsnprintf(buffer, sizeof buffer, format, arguments);
    if (length < 0)
        return QString();
    QString text = QString::fromLatin1(buffer);
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text;
}

} // namespace Varnel
