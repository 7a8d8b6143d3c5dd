#pragma once

#include "clientsandbox.h"
#include "refbackendprocess.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTest>

// Base of the tests against the reference backend: one backend for the
// program, and before each test function its state back to the start and a
// fresh client sandbox pointing at it. A test with set-up of its own calls
// these slots from its own.
class BackendTest : public QObject
{
    Q_OBJECT
public:
    explicit BackendTest(const QStringList &backendArguments = {}) : m_arguments(backendArguments) {}

protected slots:
    void initTestCase() { QVERIFY2(m_backend.start(m_arguments), qPrintable(m_backend.errorText())); }
    void init()
    {
        QVERIFY(m_backend.reset());
        m_sandbox.enter(m_backend.baseUrl(), m_backend.caFile());
    }
    void cleanup() { m_sandbox.leave(); }

protected:
    ClientSandbox m_sandbox;
    RefBackendProcess m_backend;

private:
    QStringList m_arguments;
};

// An address on loopback where nothing listens.
QString closedBase();

// The form of a request as the reference backend recorded it: its names in
// order, and the values of some.
QStringList formNames(const QJsonObject &request);
QStringList formValues(const QJsonObject &request, const QStringList &names);
