#pragma once

#include "clientsandbox.h"
#include "refbackendprocess.h"

#include <QObject>
#include <QString>
#include <QStringList>

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
    void initTestCase();
    void init();
    void cleanup() { m_sandbox.leave(); }

protected:
    QString url(const char *path) const { return m_backend.baseUrl() + QLatin1String(path); }

    ClientSandbox m_sandbox;
    RefBackendProcess m_backend;

private:
    QStringList m_arguments;
};

// An address where nothing listens.
quint16 closedLoopbackPort();
QString closedBase();

// Readers of a request as the reference backend recorded it: the names of
// its form in order, and one value.
QStringList formNames(const QJsonObject &request);
QString formValue(const QJsonObject &request, const QString &name);
QStringList formValues(const QJsonObject &request, const QStringList &names);
