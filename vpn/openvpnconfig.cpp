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

namespace Varnel {

QString openVpnTransport(const QString &config)
{
    QString fromRemote;
    const QStringList lines = config.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.isEmpty() || words.first().startsWith(QLatin1Char('#')) || words.first().startsWith(QLatin1Char(';')))
            continue;
        QString directive = words.takeFirst();
        if (directive.startsWith(QLatin1String("--")))
            directive.remove(0, 2);
        if (directive == QLatin1String("proto") && !words.isEmpty())
            return words.first().startsWith(QLatin1String("tcp")) ? QStringLiteral("tcp") : QStringLiteral("udp");
        if (directive == QLatin1String("remote") && words.size() >= 3 && fromRemote.isEmpty())
            fromRemote = words.at(2).startsWith(QLatin1String("tcp")) ? QStringLiteral("tcp") : QStringLiteral("udp");
    }
    return fromRemote.isEmpty() ? QStringLiteral("udp") : fromRemote;
}

} // namespace Varnel
