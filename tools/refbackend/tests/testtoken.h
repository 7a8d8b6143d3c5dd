#pragma once

#include "common/crypto.h"

#include <QJsonDocument>
#include <QJsonObject>

// An "authToken" as the client builds it for the web pages.
inline QString tokenFor(const QString &user, const QString &password, qint64 ttl,
                        const QString &udid = QStringLiteral("machine-1"))
{
    const QJsonObject o{{QStringLiteral("password"), password}, {QStringLiteral("ttl"), QString::number(ttl)},
                        {QStringLiteral("udid"), udid}, {QStringLiteral("username"), user}};
    return Varnel::encipher(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)),
                            QLatin1String(Varnel::kAuthTokenKey));
}
