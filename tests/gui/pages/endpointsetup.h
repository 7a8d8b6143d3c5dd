#pragma once

#include "integration/backend/clientsandbox.h"

// The pages use the process-wide backend client, which keeps the endpoint
// table it has seen when a key is missing from the settings. Each test
// therefore writes the whole table into its fresh settings store.
inline void useEndpointsAt(const QString &base)
{
    ClientSandbox::storeEndpoints(ClientSandbox::endpointsAt(base));
}

// Blank entries: the client has to fetch the remote data document.
inline void forgetEndpoints()
{
    QMap<QString, QString> blank = ClientSandbox::endpointsAt(QString());
    for (QString &value : blank)
        value.clear();
    ClientSandbox::storeEndpoints(blank);
}
