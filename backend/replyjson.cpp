#include "backend/replyjson.h"

#include <QString>

#include <algorithm>
#include <string_view>
#include <vector>

namespace Varnel {

namespace {

// A key's text as the parser sees it, in UTF-8: written with an escape or
// with non-ASCII bytes it is decoded first, so that "a" and "\u0061" are
// one key.
QByteArray decodedKey(const char *begin, const char *end)
{
    QString text;
    const char *run = begin;
    const char *p = begin;
    while (p < end) {
        if (*p != '\\') {
            ++p;
            continue;
        }
        text += QString::fromUtf8(run, int(p - run));
        ++p;
        if (p == end)
            break;
        const char escape = *p++;
        switch (escape) {
        case 'b':
            text += QLatin1Char('\b');
            break;
        case 'f':
            text += QLatin1Char('\f');
            break;
        case 'n':
            text += QLatin1Char('\n');
            break;
        case 'r':
            text += QLatin1Char('\r');
            break;
        case 't':
            text += QLatin1Char('\t');
            break;
        case 'u': {
            // Malformed escapes make the parser refuse the text anyway.
            ushort unit = 0;
            int digits = 0;
            for (; digits < 4 && p < end; ++digits, ++p) {
                const int value = (*p >= '0' && *p <= '9') ? *p - '0'
                    : (*p >= 'a' && *p <= 'f')             ? *p - 'a' + 10
                    : (*p >= 'A' && *p <= 'F')             ? *p - 'A' + 10
                                                           : -1;
                if (value < 0)
                    break;
                unit = ushort(unit * 16 + value);
            }
            text += QChar(unit);
            break;
        }
        default:   // \" \\ \/ and anything the parser refuses
            text += QLatin1Char(escape);
            break;
        }
        run = p;
    }
    text += QString::fromUtf8(run, int(p - run));
    return text.toUtf8();
}

// One open object or array. The keys of an object point into the text,
// or into decoded copies kept beside them.
struct Level {
    bool object = false;
    bool expectKey = false;
    std::vector<std::string_view> keys;
    std::vector<QByteArray> decoded;

    void open(bool isObject)
    {
        object = isObject;
        expectKey = isObject;
        keys.clear();
        decoded.clear();
    }

    bool repeats()
    {
        if (keys.size() < 2)
            return false;
        std::sort(keys.begin(), keys.end());
        return std::adjacent_find(keys.begin(), keys.end()) != keys.end();
    }
};

} // namespace

bool hasRepeatedKey(const QByteArray &json)
{
    // Levels are kept when closed, so a list of many objects reuses them.
    std::vector<Level> levels;
    size_t depth = 0;
    const char *p = json.constData();
    const char *const end = p + json.size();
    while (p < end) {
        const char c = *p++;
        Level *top = depth > 0 ? &levels[depth - 1] : nullptr;
        switch (c) {
        case '{':
        case '[':
            if (levels.size() == depth)
                levels.emplace_back();
            levels[depth++].open(c == '{');
            break;
        case '}':
        case ']':
            if (top) {
                if (top->object && top->repeats())
                    return true;
                --depth;
            }
            break;
        case ',':
            if (top && top->object)
                top->expectKey = true;
            break;
        case ':':
            if (top && top->object)
                top->expectKey = false;
            break;
        case '"': {
            const char *const start = p;
            bool plain = true;
            while (p < end && *p != '"') {
                if (*p == '\\') {
                    plain = false;
                    p = std::min(p + 2, end);
                    continue;
                }
                if (static_cast<unsigned char>(*p) >= 0x80)
                    plain = false;
                ++p;
            }
            const char *const stop = p;
            if (p < end)
                ++p;   // the closing quote
            if (top && top->object && top->expectKey) {
                top->expectKey = false;
                if (plain) {
                    top->keys.emplace_back(start, size_t(stop - start));
                } else {
                    top->decoded.push_back(decodedKey(start, stop));
                    const QByteArray &key = top->decoded.back();
                    top->keys.emplace_back(key.constData(), size_t(key.size()));
                }
            }
            break;
        }
        default:   // blanks, numbers, true, false, null
            break;
        }
    }
    return false;
}

QJsonDocument parseReplyJson(const QByteArray &json)
{
    // Checked before parsing: the leak happens inside the parser.
    if (hasRepeatedKey(json))
        return QJsonDocument();
    return QJsonDocument::fromJson(json);
}

} // namespace Varnel
