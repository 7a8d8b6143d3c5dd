#pragma once

#include <QByteArray>
#include <QJsonDocument>

namespace Varnel {

// Parses a JSON text that came from outside (a backend reply, the cached
// login reply). A text in which one object names the same key twice is
// refused (a null document), like text that is not JSON: Qt 5.15's parser
// leaks the first value when a repeated key holds an object or an array,
// so a reply could make the program grow with every request, and no
// backend sends such keys.
QJsonDocument parseReplyJson(const QByteArray &json);

// True when some object of the text repeats a key (compared after escapes
// are resolved, as the parser compares them). Text that is not JSON may
// give either answer; the parser refuses it anyway.
bool hasRepeatedKey(const QByteArray &json);

} // namespace Varnel
