#include "backendtest.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QTcpServer>
#include <QTest>

void BackendTest::initTestCase()
{
    QVERIFY2(m_backend.start(m_arguments), qPrintable(m_backend.errorText()));
}

void BackendTest::init()
{
    QVERIFY(m_backend.reset());
    m_sandbox.enter(m_backend.baseUrl(), m_backend.caFile());
}

quint16 closedLoopbackPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    const quint16 port = server.serverPort();
    server.close();   // nothing listens there any more: connections are refused
    return port;
}

QString closedBase()
{
    return QStringLiteral("https://127.0.0.1:%1").arg(closedLoopbackPort());
}

QStringList formNames(const QJsonObject &request)
{
    QStringList names;
    for (const QJsonValue &item : request.value(QLatin1String("form")).toArray())
        names << item.toArray().at(0).toString();
    return names;
}

QString formValue(const QJsonObject &request, const QString &name)
{
    for (const QJsonValue &item : request.value(QLatin1String("form")).toArray()) {
        if (item.toArray().at(0).toString() == name)
            return item.toArray().at(1).toString();
    }
    return QString();
}

QStringList formValues(const QJsonObject &request, const QStringList &names)
{
    QStringList values;
    for (const QString &name : names)
        values << formValue(request, name);
    return values;
}
