#include "vpn/tunnelinfo.h"

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
