#include "common/stylefonts.h"

#include <QRegularExpression>
#include <QSet>
#include <QString>

#include <functional>

namespace Varnel {

namespace {

// The distinct numbers captured by the pattern's first group.
QSet<int> capturedNumbers(const QString &text, const QRegularExpression &pattern)
{
    QSet<int> numbers;
    auto it = pattern.globalMatch(text);
    while (it.hasNext())
        numbers.insert(it.next().captured(1).toInt());
    return numbers;
}

// Rewrites every match in one pass, so a replacement is never matched again.
QString replaceMatches(const QString &text, const QRegularExpression &pattern,
                       const std::function<QString(const QRegularExpressionMatch &)> &replacement)
{
    QString result;
    int from = 0;
    auto it = pattern.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        result += text.midRef(from, match.capturedStart() - from);
        result += replacement(match);
        from = match.capturedEnd();
    }
    result += text.midRef(from);
    return result;
}

} // namespace

QByteArray rewriteFonts(const QByteArray &style, int size16, int size24, int weight)
{
    // Latin-1 maps every byte to one character and back, so bytes outside
    // the rewritten declarations (UTF-8 comments, names) come out unchanged.
    const QString text = QString::fromLatin1(QByteArray(style.constData()));
    const QString compact = text.simplified().remove(QLatin1Char(' '));

    // Which sizes and weights the sheet declares is decided on the compact
    // text; the original is rewritten only where "font-size:" or
    // "font-weight:" is followed by at most one blank.
    static const QRegularExpression kDeclaredSize(QStringLiteral("font-size:(\\d+)px"));
    static const QRegularExpression kDeclaredWeight(QStringLiteral("font-weight:(\\d+);"));
    static const QRegularExpression kSize(QStringLiteral("font-size: ?(\\d+)px"));
    static const QRegularExpression kWeight(QStringLiteral("font-weight: ?(\\d+)"));
    const QSet<int> sizes = capturedNumbers(compact, kDeclaredSize);
    const QSet<int> weights = capturedNumbers(compact, kDeclaredWeight);

    QString out = replaceMatches(text, kSize,
                                 [&](const QRegularExpressionMatch &m) {
                                     const int n = m.captured(1).toInt();
                                     if (!sizes.contains(n))
                                         return m.captured(0);
                                     const int size = n == 16 ? size16 : n == 24 ? size24 : n;
                                     return QStringLiteral("font-size: %1px").arg(size);
                                 });
    // Whole numbers only: a weight of 60 must not rewrite the first digits of 600.
    out = replaceMatches(out, kWeight,
                         [&](const QRegularExpressionMatch &m) {
                             if (!weights.contains(m.captured(1).toInt()))
                                 return m.captured(0);
                             return QStringLiteral("font-weight: %1").arg(weight);
                         });
    return out.toLatin1();
}

} // namespace Varnel
