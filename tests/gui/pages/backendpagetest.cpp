#include "backendpagetest.h"

#include "startuplook.h"

#include "backend/apirequest.h"
#include "backend/vpncredentials.h"
#include "common/config.h"
#include "tools/refbackend/routes.h"

#include <QTest>

void BackendPageTest::initTestCase()
{
    BackendTest::initTestCase();
    applyStartupLook();
}

void BackendPageTest::init()
{
    BackendTest::init();
    useEndpointsAt(m_backend.baseUrl());
}

void BackendPageTest::storeLoggedInUser(const QString &username, const QString &password)
{
    const auto config = Varnel::Config::instance();
    config->setServerHash(username);
    config->setConnectionHash(password);
    config->setAutoLogin(true);
    config->save();
}

bool BackendPageTest::loginAs(const QString &username, const QString &password)
{
    Varnel::setVpnCredentials(username, password);
    return Varnel::ApiRequest::instance()->login(username, password) == 0;
}

void useEndpointsAt(const QString &base)
{
    ClientSandbox::storeEndpoints(ClientSandbox::endpointsAt(base));
}

bool breakBackend(const QString &setup, RefBackendProcess &backend)
{
    if (setup == QLatin1String("down"))
        useEndpointsAt(closedBase());
    if (setup != QLatin1String("no endpoints"))
        return true;
    // Blank entries: the client has to fetch the remote data document.
    QMap<QString, QString> blank = ClientSandbox::endpointsAt(QString());
    for (QString &value : blank)
        value.clear();
    ClientSandbox::storeEndpoints(blank);
    return backend.setFault(QLatin1String(Varnel::RefBackend::Routes::kRemoteData), QStringLiteral("status500"));
}

void addLoginFailureRows()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("message");
    QTest::newRow("refused: server's text") << "" << "Invalid username or password.";
    QTest::newRow("backend down") << "down" << "Could not connect to server!";
    QTest::newRow("no endpoint table") << "no endpoints" << "Could not connect to login server!";
}
