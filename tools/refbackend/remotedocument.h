#pragma once

#include <QJsonObject>
#include <QString>

namespace Varnel::RefBackend {

// The remote configuration in Cloud Firestore document layout: every field an object with a
// "stringValue"; all operation addresses except "forgot_url" and "pricing_online" enciphered with
// the endpoint key.
class RemoteDocument
{
public:
    static QJsonObject build(const QString &baseUrl, const QString &decisionData);
};

} // namespace Varnel::RefBackend
