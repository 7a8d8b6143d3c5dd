#pragma once

#include "layer.h"

#include <QColor>
#include <QImage>
#include <QVector>

namespace Varnel {
namespace Art {

// Paints SVG layers, bottom first, onto a transparent ARGB32 image.
class Rasteriser
{
public:
    // Folder that relative layer file names are taken from.
    explicit Rasteriser(const QString &sourceDir);

    // Composes the layers at the given size; every layer is turned by its own
    // rotation plus extraRotation (degrees, clockwise) about the canvas centre.
    // Returns a null image and fills *error on failure.
    QImage render(const QVector<Layer> &layers, const QSize &size, qreal extraRotation,
                  QString *error) const;

    // The same composition as one SVG drawing (vector paths, for an icon
    // theme's scalable size). Returns false and fills *error on failure.
    bool writeSvg(const QString &fileName, const QVector<Layer> &layers, const QSize &size,
                  QString *error) const;

private:
    bool paint(QPainter &painter, const QVector<Layer> &layers, const QSize &size, qreal extraRotation,
               QString *error) const;
    bool paintLayer(QPainter &painter, const Layer &layer, const QSize &size, qreal extraRotation,
                    QString *error) const;

    QString m_sourceDir;
};

// For formats with one-bit transparency (GIF): pixels at least half covered
// become opaque, blended over the matte colour; the others become transparent.
void flattenOntoMatte(QImage *image, const QColor &matte);

} // namespace Art
} // namespace Varnel
