#include "formdata.h"

namespace Varnel::RefBackend {

FormData::FormData(const std::string &encoded)
    : query_(fromStd(encoded))
{
}

QString FormData::value(const QString &name) const
{
    return query_.queryItemValue(name, QUrl::FullyDecoded);
}

QJsonArray FormData::items() const
{
    QJsonArray list;
    for (const auto &item : query_.queryItems(QUrl::FullyDecoded))
        list.append(QJsonArray{item.first, item.second});
    return list;
}

QString queryItem(const httplib::Request &request, const char *name)
{
    const std::string::size_type mark = request.target.find('?');
    if (mark == std::string::npos)
        return QString();
    // Web servers read a "+" in a query as a blank; only "%2B" is a plus sign.
    std::string query = request.target.substr(mark + 1);
    std::string::size_type plus = 0;
    while ((plus = query.find('+', plus)) != std::string::npos)
        query.replace(plus, 1, "%20");
    return FormData(query).value(QLatin1String(name));
}

QString fromStd(const std::string &text)
{
    return QString::fromUtf8(text.data(), int(text.size()));
}

std::string toStd(const QString &text)
{
    return text.toUtf8().toStdString();
}

} // namespace Varnel::RefBackend
