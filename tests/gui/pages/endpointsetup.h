#pragma once

#include "integration/backend/backendtest.h"
#include "tools/refbackend/routes.h"

#include <QTest>

// The pages use the process-wide backend client, which keeps the endpoint
// table it has seen when a key is missing from the settings. Each test
// therefore writes the whole table into its fresh settings store.
inline void useEndpointsAt(const QString &base)
{
    ClientSandbox::storeEndpoints(ClientSandbox::endpointsAt(base));
}

// Each page test's fresh start: the backend's state back to the start, a
// new client sandbox pointing at it, and its endpoint table stored.
inline bool enterFreshClient(ClientSandbox &sandbox, RefBackendProcess &backend)
{
    if (!backend.reset())
        return false;
    sandbox.enter(backend.baseUrl(), backend.caFile());
    useEndpointsAt(backend.baseUrl());
    return true;
}

// Blank entries: the client has to fetch the remote data document.
inline void forgetEndpoints()
{
    QMap<QString, QString> blank = ClientSandbox::endpointsAt(QString());
    for (QString &value : blank)
        value.clear();
    ClientSandbox::storeEndpoints(blank);
}

// The failures both login pages meet: "down" points the client at a closed
// port, "no endpoints" blanks the table and fails the fetch of it.
inline bool breakBackend(const QString &setup, RefBackendProcess &backend)
{
    if (setup == QLatin1String("down"))
        useEndpointsAt(closedBase());
    if (setup != QLatin1String("no endpoints"))
        return true;
    forgetEndpoints();
    return backend.setFault(QLatin1String(Varnel::RefBackend::Routes::kRemoteData), QStringLiteral("status500"));
}

// The failure rows both login pages share: the breakBackend set-up and the
// text the page shows.
inline void addLoginFailureRows()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("message");
    QTest::newRow("refused: server's text") << "" << "Invalid username or password.";
    QTest::newRow("backend down") << "down" << "Could not connect to server!";
    QTest::newRow("no endpoint table") << "no endpoints" << "Could not connect to login server!";
}
