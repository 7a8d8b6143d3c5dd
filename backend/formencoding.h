#pragma once

#include <QByteArray>
#include <QString>
#include <QUrlQuery>

namespace Varnel {

// Appends name=value to a form body or a page query so that the receiver's
// form decoder gets the value back exactly. QUrlQuery on its own leaves "+"
// as it is (read as a blank by form decoders) and keeps "%41"-like sequences
// as if already encoded (read as "A"), so passwords or Base64 tokens holding
// them would arrive changed; the value is percent-encoded here in full.
void addFormItem(QUrlQuery &query, const QString &name, const QString &value);

// The body of a form POST ("application/x-www-form-urlencoded").
QByteArray formBody(const QUrlQuery &query);

} // namespace Varnel
