#include "vpn/openvpnconfig.h"

#include <QByteArray>
#include <QStringList>

namespace Varnel {

namespace {

void replaceFirst(QString &text, const QString &placeholder, const QString &value)
{
    const int at = text.indexOf(placeholder);
    if (at >= 0)
        text.replace(at, placeholder.size(), value);
}

} // namespace

QString openVpnConfigFromTemplate(const QString &encodedConfig, const QString &address)
{
    const QByteArray decoded = QByteArray::fromBase64(encodedConfig.toLatin1());
    QString config = QString::fromLatin1(decoded.constData(), int(qstrnlen(decoded.constData(), uint(decoded.size()))));

    const QStringList parts = address.split(QLatin1Char(':'));
    const QString host = parts.value(0);
    const QString port = parts.value(1);

    replaceFirst(config, QStringLiteral("remoteIP"), host);
    replaceFirst(config, QStringLiteral("remotePort"), port);
    replaceFirst(config, QStringLiteral("remoteServerIP"), host);
    return config;
}

} // namespace Varnel
