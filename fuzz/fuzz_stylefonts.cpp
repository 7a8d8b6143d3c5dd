// The start-up rewriting of the style sheet's font sizes and weights.

#include "fuzzsupport.h"

#include "common/stylefonts.h"

#include <QRegularExpression>

using namespace Varnel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray style(reinterpret_cast<const char *>(data), int(size));
    const QByteArray rewritten = rewriteFonts(style, 14, 22, 500);
    // Only declarations change: a sheet without any is given back as it
    // is (up to its first zero byte).
    if (!style.contains("font-"))
        VarnelFuzz::check(rewritten == QByteArray(style.constData()), "a sheet without fonts changed");
    // Sizes of 16 and 24 px, written with at most one blank, are all gone.
    static const QRegularExpression kOldSize(QStringLiteral("font-size: ?(16|24)px"));
    VarnelFuzz::check(!kOldSize.match(QString::fromLatin1(rewritten)).hasMatch(), "a size of 16 or 24 px left");
    return 0;
}
