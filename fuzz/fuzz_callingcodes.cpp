// The country calling-code map ("Country name,code" a line).

#include "fuzzsupport.h"

#include "common/localeinfo.h"

using namespace Varnel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QHash<QString, int> codes =
        parseCallingCodes(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    for (auto it = codes.cbegin(); it != codes.cend(); ++it) {
        const QString &key = it.key();
        VarnelFuzz::check(key == key.toLower(), "key not lower-case");
        for (const QChar c : key)
            VarnelFuzz::check(!c.isSpace() && c != QLatin1Char('"'), "blank or quote in a key");
    }
    return 0;
}
