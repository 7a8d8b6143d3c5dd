#pragma once

#include <QJsonObject>
#include <QMap>

#include <httplib.h>

#include <mutex>

namespace Varnel::RefBackend {

// Counts the requests per path and keeps the last one of each, so that client tests can check
// "fetched once", "the backend saw no request" and exactly which items and headers were sent.
class RequestLog
{
public:
    void record(const httplib::Request &request);
    QJsonObject counts() const;                     // {path: count}
    QJsonObject last(const QString &path) const;    // empty object when the path was never seen
    void clear();

private:
    mutable std::mutex mutex_;
    QMap<QString, int> counts_;
    QMap<QString, QJsonObject> last_;
};

} // namespace Varnel::RefBackend
