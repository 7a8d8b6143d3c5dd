#pragma once

#include "integration/backend/backendtest.h"

// Base of the page tests against the reference backend: the backend tests'
// base, with the start-up look for the whole program and, before each test
// function, the whole endpoint table stored (the process-wide backend client
// keeps the table it has seen when a key is missing from the settings).
class BackendPageTest : public BackendTest
{
    Q_OBJECT
public:
    using BackendTest::BackendTest;

    // What a manual login leaves in the settings (the automatic login's input).
    static void storeLoggedInUser(const QString &username, const QString &password);
    // A login with these credentials, as the login page makes it; true when accepted.
    static bool loginAs(const QString &username, const QString &password);

protected slots:
    void initTestCase();
    void init();
};

void useEndpointsAt(const QString &base);
