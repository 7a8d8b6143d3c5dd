#include "requestlog.h"

#include "formdata.h"

namespace Varnel::RefBackend {

namespace {

// httplib adds the peer and local addresses as pseudo headers; they are not what the client sent.
bool isPseudoHeader(const std::string &name)
{
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

QJsonObject describe(const httplib::Request &request)
{
    QJsonObject headers;
    for (const auto &h : request.headers) {
        if (!isPseudoHeader(h.first))
            headers.insert(fromStd(h.first), fromStd(h.second));
    }
    const std::string::size_type mark = request.target.find('?');
    const std::string query = mark == std::string::npos ? std::string() : request.target.substr(mark + 1);
    return QJsonObject{{QStringLiteral("method"), fromStd(request.method)},
                       {QStringLiteral("path"), fromStd(request.path)},
                       {QStringLiteral("query"), fromStd(query)},
                       {QStringLiteral("body"), fromStd(request.body)},
                       {QStringLiteral("form"), FormData(request.body).items()},
                       {QStringLiteral("headers"), headers}};
}

} // namespace

void RequestLog::record(const httplib::Request &request)
{
    const QJsonObject entry = describe(request);
    const QString path = fromStd(request.path);
    std::lock_guard<std::mutex> lock(mutex_);
    counts_[path] += 1;
    last_[path] = entry;
}

QJsonObject RequestLog::counts() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    QJsonObject result;
    for (auto it = counts_.constBegin(); it != counts_.constEnd(); ++it)
        result.insert(it.key(), it.value());
    return result;
}

QJsonObject RequestLog::last(const QString &path) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return last_.value(path);
}

void RequestLog::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    counts_.clear();
    last_.clear();
}

} // namespace Varnel::RefBackend
