#include "backendtest.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QTcpServer>

QString closedBase()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return QStringLiteral("https://127.0.0.1:%1").arg(server.serverPort());   // closed when it goes
}

QStringList formNames(const QJsonObject &request)
{
    QStringList names;
    for (const QJsonValue &item : request.value(QLatin1String("form")).toArray())
        names << item.toArray().at(0).toString();
    return names;
}

QStringList formValues(const QJsonObject &request, const QStringList &names)
{
    const QJsonArray form = request.value(QLatin1String("form")).toArray();
    const QStringList present = formNames(request);
    QStringList values;
    for (const QString &name : names)
        values << form.at(present.indexOf(name)).toArray().at(1).toString();
    return values;
}
