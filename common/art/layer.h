#pragma once

#include <QHash>
#include <QString>

namespace Varnel {
namespace Art {

// One layer of a composed picture: an SVG file painted over the whole canvas,
// optionally shrunk or grown about the centre, turned, and with some of its
// colours swapped. Written as "file.svg [scale=N] [rotate=DEG] [#RRGGBB=#RRGGBB|none]...".
struct Layer {
    QString file;
    qreal scale = 1.0;
    qreal rotation = 0.0;
    // Lower-case "#rrggbb" to its replacement ("#rrggbb" or "none").
    QHash<QString, QString> colours;

    // Returns false and fills *error when the text is not a valid layer.
    static bool parse(const QString &text, Layer *out, QString *error);
};

// Replaces every "#rrggbb" colour of an SVG document that appears in the map,
// all at once, so that a swap A=B, B=A does not cascade.
QByteArray recolour(const QByteArray &svg, const QHash<QString, QString> &colours);

} // namespace Art
} // namespace Varnel
