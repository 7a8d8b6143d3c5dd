#pragma once

#include <QJsonObject>
#include <QString>

namespace Varnel::JsonFields {

// Reply members as the records read them: an absent member or one of another
// JSON type gives an empty text, 0 or an empty object.

inline QString text(const QJsonObject &o, const char *key)
{
    return o.value(QLatin1String(key)).toString();
}

inline int number(const QJsonObject &o, const char *key)
{
    return o.value(QLatin1String(key)).toInt();
}

// Members the backend sends as digit strings; a JSON number reads as 0.
inline int decimalText(const QJsonObject &o, const char *key)
{
    return text(o, key).toInt();
}

inline QJsonObject member(const QJsonObject &o, const char *key)
{
    return o.value(QLatin1String(key)).toObject();
}

} // namespace Varnel::JsonFields
