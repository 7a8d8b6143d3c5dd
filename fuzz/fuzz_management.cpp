// OpenVPN's management lines as the runner reads them (state, password
// requests, byte counts) and the quoting of the credentials it sends back.

#include "fuzzsupport.h"

#include "vpn/managementline.h"

using namespace Varnel;

namespace {

// The inverse of the quoting, as OpenVPN reads a quoted argument; empty
// optional when the text is not one well-formed quoted argument.
bool unquote(const QString &quoted, QString &value)
{
    if (quoted.size() < 2 || !quoted.startsWith(QLatin1Char('"')) || !quoted.endsWith(QLatin1Char('"')))
        return false;
    value.clear();
    for (int i = 1; i < quoted.size() - 1; ++i) {
        QChar c = quoted.at(i);
        if (c == QLatin1Char('"'))
            return false;   // would end the argument early
        if (c == QLatin1Char('\\')) {
            if (++i >= quoted.size() - 1)
                return false;
            c = quoted.at(i);
        }
        value += c;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    VarnelFuzz::Input input(data, size);
    const QString line = QString::fromLatin1(input.piece()).trimmed();
    const ManagementLine parsed = ManagementLine::parse(line);
    if (parsed.kind == ManagementLine::ByteCount)
        VarnelFuzz::check(parsed.down >= 0 && parsed.up >= 0, "negative byte count");
    else
        VarnelFuzz::check(parsed.down == 0 && parsed.up == 0, "counts on a line that has none");

    const QString credential = QString::fromUtf8(input.rest());
    QString back;
    VarnelFuzz::check(unquote(quoteManagementArgument(credential), back) && back == credential,
                      "quoting does not give the credential back");
    if (isSendableCredential(credential)) {
        for (const QChar c : credential)
            VarnelFuzz::check(c != QLatin1Char('\n') && c != QLatin1Char('\r') && c != QLatin1Char('\0'),
                              "a credential with a line break counts as sendable");
    }
    return 0;
}
