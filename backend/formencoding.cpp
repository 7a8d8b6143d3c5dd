#include "backend/formencoding.h"

#include <QUrl>

namespace Varnel {

void addFormItem(QUrlQuery &query, const QString &name, const QString &value)
{
    // QUrlQuery keeps valid percent-encoded input as it is.
    query.addQueryItem(QString::fromLatin1(QUrl::toPercentEncoding(name)),
                       QString::fromLatin1(QUrl::toPercentEncoding(value)));
}

QByteArray formBody(const QUrlQuery &query)
{
    return query.query(QUrl::FullyEncoded).toUtf8();
}

} // namespace Varnel
