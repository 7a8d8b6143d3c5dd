#pragma once

#include "common/art/layer.h"

#include <QColor>
#include <QHash>
#include <QImage>
#include <QVector>

#include <memory>

class QSvgRenderer;

namespace Varnel {
namespace Art {

// Paints SVG layers, bottom first, onto a transparent (premultiplied) ARGB32
// image. Each drawing is read once per rasteriser and colour set.
class Rasteriser
{
public:
    // Folder that relative layer file names are taken from.
    explicit Rasteriser(const QString &sourceDir);

    // Composes the layers at the given size; every layer is turned by its own
    // rotation plus extraRotation (degrees, clockwise) about the canvas centre.
    // With an outputSize the composition is drawn at that many pixels instead
    // (for a screen's pixel ratio), stretched a little where rounding changed
    // its proportions. Returns a null image and fills *error on failure.
    QImage render(const QVector<Layer> &layers, const QSize &size, qreal extraRotation, QString *error,
                  const QSize &outputSize = QSize()) const;

    // Draws the part of the composition that falls into part (pixels of
    // image, which is the whole canvas at its own size) onto image: a large
    // picture made in steps.
    bool renderPart(const QVector<Layer> &layers, const QSize &size, QImage *image, const QRect &part,
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
    QSvgRenderer *drawing(const Layer &layer, QString *error) const;

    QString m_sourceDir;
    mutable QHash<QString, std::shared_ptr<QSvgRenderer>> m_drawings;
};

// For formats with one-bit transparency (GIF): pixels at least half covered
// become opaque, blended over the matte colour; the others become transparent.
void flattenOntoMatte(QImage *image, const QColor &matte);

} // namespace Art
} // namespace Varnel
