#pragma once

#include "integration/backend/backendtest.h"

#include <QObject>

// Base of the page tests against the reference backend: one backend for the
// program, and before each test function its state back to the start and a
// fresh client pointing at it with the whole endpoint table stored (the
// process-wide backend client keeps the table it has seen when a key is
// missing). A test with set-up of its own calls these slots from its own.
class BackendPageTest : public QObject
{
    Q_OBJECT
public:
    explicit BackendPageTest(const QStringList &backendArguments = {}) : m_arguments(backendArguments) {}

    // What a manual login leaves in the settings (the automatic login's input).
    static void storeLoggedInUser(const QString &username, const QString &password);
    // A login with these credentials, as the login page makes it; true when accepted.
    static bool loginAs(const QString &username, const QString &password);

protected slots:
    void initTestCase();
    void init();
    void cleanup() { m_sandbox.leave(); }

protected:
    ClientSandbox m_sandbox;
    RefBackendProcess m_backend;

private:
    QStringList m_arguments;
};

void useEndpointsAt(const QString &base);

// The failures both login pages meet: "down" points the client at a closed
// port, "no endpoints" blanks the table and fails the fetch of it.
bool breakBackend(const QString &setup, RefBackendProcess &backend);

// The failure rows both login pages share: the breakBackend set-up and the
// text the page shows.
void addLoginFailureRows();
