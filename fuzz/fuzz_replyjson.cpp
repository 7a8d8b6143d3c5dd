// The JSON reader of every backend reply: repeated keys are refused before
// Qt's parser sees them (it leaks when a repeated key holds an object or an
// array; LeakSanitizer reports any that slips through).

#include "fuzzsupport.h"

#include "backend/replyjson.h"

using namespace Varnel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));
    const QJsonDocument document = parseReplyJson(text);
    if (document.isNull())
        return 0;
    // Text the parser writes itself never repeats a key, in whatever way it
    // escapes them.
    VarnelFuzz::check(!hasRepeatedKey(document.toJson(QJsonDocument::Compact)),
                      "a repeated key seen where there is none");
    return 0;
}
