#pragma once

#include <QByteArray>
#include <QObject>

namespace Varnel {

// Reads the provider's Cloud Firestore data document once, on construction
// (a blocking GET), and keeps the body.
class FirebaseHandler : public QObject
{
    Q_OBJECT
public:
    explicit FirebaseHandler(QObject *parent = nullptr);

    // The document body; empty when the request failed.
    QByteArray byteData() const { return m_byteData; }
    // The status code of the request (see BaseHttpRequest).
    int status() const { return m_status; }

private:
    QByteArray m_byteData;
    int m_status = 0;
};

} // namespace Varnel
