#pragma once

#include "common/art/layer.h"
#include "common/art/rasteriser.h"

#include <QHash>
#include <QImage>
#include <QSize>
#include <QVector>

namespace Varnel {
namespace Art {

// Our pictures as drawings: for every picture compiled in under ":/img/", the
// SVG layers it is composed of and its listed size, so that it can be drawn
// at any number of pixels (a screen's pixel ratio) instead of scaling the
// compiled-in bitmap. The list is written by the build from
// resources/img/images.txt, one "name|layers|WxH" a line.
class Catalogue
{
public:
    struct Entry {
        QVector<Layer> layers;
        QSize size;
    };

    // ":/artwork/pictures.txt" with the drawings in ":/artwork/svg", read once.
    static const Catalogue &compiledIn();

    Catalogue(const QString &listFile, const QString &sourceDir);

    // The entry of a picture name ("logo.png"), or null.
    const Entry *find(const QString &name) const;

    // The picture drawn at exactly outputSize pixels (its own proportions are
    // kept by the caller; rounding may stretch it by a pixel), turned by
    // rotation degrees; null on failure.
    QImage render(const Entry &entry, const QSize &outputSize, qreal rotation = 0) const;
    // The part (in the image's pixels) of the picture drawn at the image's
    // size onto it.
    void renderPart(const Entry &entry, QImage *image, const QRect &part) const;

private:
    QHash<QString, Entry> m_entries;
    Rasteriser m_rasteriser;
};

} // namespace Art
} // namespace Varnel
