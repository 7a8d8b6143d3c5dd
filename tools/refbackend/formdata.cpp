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
    return mark == std::string::npos ? QString()
                                     : FormData(request.target.substr(mark + 1)).value(QLatin1String(name));
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
