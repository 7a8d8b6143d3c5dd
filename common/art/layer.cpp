#include "common/art/layer.h"

#include <QRegularExpression>
#include <QStringList>

namespace Varnel {
namespace Art {

namespace {

const QRegularExpression &hexColour()
{
    static const QRegularExpression re(QStringLiteral("#[0-9A-Fa-f]{6}\\b"));
    return re;
}

bool parseNumber(const QString &text, qreal *out)
{
    bool ok = false;
    *out = text.toDouble(&ok);
    return ok;
}

bool parseColourSwap(const QString &token, Layer *out)
{
    const int eq = token.indexOf(QLatin1Char('='));
    const QString from = token.left(eq);
    const QString to = token.mid(eq + 1);
    if (!hexColour().match(from).hasMatch() || from.size() != 7)
        return false;
    QString target;
    if (to == QLatin1String("none")) {
        target = to;
    } else if (to.size() == 7 && hexColour().match(to).hasMatch()) {
        target = to.toLower();
    } else {
        return false;
    }
    out->colours.insert(from.toLower(), target);
    return true;
}

} // namespace

bool Layer::parse(const QString &text, Layer *out, QString *error)
{
    const QStringList tokens = text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (tokens.isEmpty()) {
        *error = QStringLiteral("empty layer");
        return false;
    }
    Layer layer;
    layer.file = tokens.first();
    for (int i = 1; i < tokens.size(); ++i) {
        const QString &token = tokens.at(i);
        bool ok = false;
        if (token.startsWith(QLatin1String("scale="))) {
            ok = parseNumber(token.mid(6), &layer.scale) && layer.scale > 0.0;
        } else if (token.startsWith(QLatin1String("rotate="))) {
            ok = parseNumber(token.mid(7), &layer.rotation);
        } else if (token.startsWith(QLatin1Char('#'))) {
            ok = parseColourSwap(token, &layer);
        }
        if (!ok) {
            *error = QStringLiteral("bad layer option \"%1\" in \"%2\"").arg(token, text);
            return false;
        }
    }
    *out = layer;
    return true;
}

QByteArray recolour(const QByteArray &svg, const QHash<QString, QString> &colours)
{
    if (colours.isEmpty())
        return svg;
    const QString text = QString::fromUtf8(svg);
    QString result;
    result.reserve(text.size());
    int last = 0;
    auto it = hexColour().globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const auto found = colours.constFind(m.captured().toLower());
        if (found == colours.constEnd())
            continue;
        result += text.midRef(last, m.capturedStart() - last);
        result += found.value();
        last = m.capturedEnd();
    }
    result += text.midRef(last);
    return result.toUtf8();
}

} // namespace Art
} // namespace Varnel
