// The start-up rewriting of the style sheet's font sizes and weights.

#include "fuzzsupport.h"

#include "common/stylefonts.h"

using namespace Varnel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray style(reinterpret_cast<const char *>(data), int(size));
    const QByteArray rewritten = rewriteFonts(style, 14, 22, 500);
    // Only declarations change: a sheet without any is given back as it
    // is (up to its first zero byte).
    if (!style.contains("font-"))
        VarnelFuzz::check(rewritten == QByteArray(style.constData()), "a sheet without fonts changed");
    // A rewritten sheet has nothing left to rewrite.
    VarnelFuzz::check(rewriteFonts(rewritten, 14, 22, 500) == rewritten, "a second rewrite changed the sheet");
    return 0;
}
