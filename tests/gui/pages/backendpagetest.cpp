#include "backendpagetest.h"

#include "startuplook.h"

#include "backend/apirequest.h"
#include "backend/vpncredentials.h"
#include "common/config.h"


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
