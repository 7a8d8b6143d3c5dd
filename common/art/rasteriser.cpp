#include "common/art/rasteriser.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSvgGenerator>
#include <QSvgRenderer>

#include <cmath>

namespace Varnel {
namespace Art {

namespace {

// A layer is painted over the whole canvas, so its drawing must have the
// canvas's proportions; anything else would be a distorted picture.
bool sameAspect(const QSizeF &a, const QSizeF &b)
{
    const qreal ra = a.width() / a.height();
    const qreal rb = b.width() / b.height();
    return std::abs(ra - rb) <= 0.01 * rb;
}

} // namespace

Rasteriser::Rasteriser(const QString &sourceDir)
    : m_sourceDir(sourceDir)
{
}

QImage Rasteriser::render(const QVector<Layer> &layers, const QSize &size, qreal extraRotation, QString *error,
                          const QSize &outputSize) const
{
    const QSize output = outputSize.isValid() ? outputSize : size;
    if (size.isEmpty() || output.isEmpty()) {
        *error = QStringLiteral("empty picture size");
        return {};
    }
    QImage image(output, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    painter.scale(qreal(output.width()) / size.width(), qreal(output.height()) / size.height());
    if (!paint(painter, layers, size, extraRotation, error))
        return {};
    painter.end();
    return image;
}

bool Rasteriser::renderPart(const QVector<Layer> &layers, const QSize &size, QImage *image, const QRect &part,
                            QString *error) const
{
    if (size.isEmpty() || image->isNull()) {
        *error = QStringLiteral("empty picture size");
        return false;
    }
    QPainter painter(image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(part, Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setClipRect(part);
    painter.scale(qreal(image->width()) / size.width(), qreal(image->height()) / size.height());
    return paint(painter, layers, size, 0, error);
}

bool Rasteriser::writeSvg(const QString &fileName, const QVector<Layer> &layers, const QSize &size,
                          QString *error) const
{
    if (size.isEmpty()) {
        *error = QStringLiteral("empty picture size");
        return false;
    }
    QBuffer buffer;
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(size);
    generator.setViewBox(QRect(QPoint(0, 0), size));
    generator.setTitle(QFileInfo(fileName).completeBaseName());
    generator.setDescription(QString());
    QPainter painter(&generator);
    if (!paint(painter, layers, size, 0, error))
        return false;
    painter.end();
    // The generator states the size in millimetres at its resolution and
    // gives every group the (unset) font; an icon wants pixels and no text.
    QString svg = QString::fromUtf8(buffer.data());
    svg.replace(QRegularExpression(QStringLiteral("<svg width=\"[^\"]*\" height=\"[^\"]*\"")),
                QStringLiteral("<svg width=\"%1\" height=\"%2\"").arg(size.width()).arg(size.height()));
    svg.remove(QRegularExpression(QStringLiteral("\\s*font-family=\"[^\"]*\" font-size=\"[^\"]*\" "
                                                 "font-weight=\"[^\"]*\" font-style=\"[^\"]*\"\\s*")));
    const QByteArray bytes = svg.toUtf8();
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(fileName, file.errorString());
        return false;
    }
    return true;
}

bool Rasteriser::paint(QPainter &painter, const QVector<Layer> &layers, const QSize &size, qreal extraRotation,
                       QString *error) const
{
    if (layers.isEmpty()) {
        *error = QStringLiteral("no layers");
        return false;
    }
    for (const Layer &layer : layers) {
        if (!paintLayer(painter, layer, size, extraRotation, error))
            return false;
    }
    return true;
}

bool Rasteriser::paintLayer(QPainter &painter, const Layer &layer, const QSize &size,
                            qreal extraRotation, QString *error) const
{
    QSvgRenderer *renderer = drawing(layer, error);
    if (!renderer)
        return false;
    if (!sameAspect(renderer->viewBoxF().size(), QSizeF(size))) {
        *error = QStringLiteral("%1 has a view box of %2 x %3, not the proportions of %4 x %5")
                     .arg(QDir(m_sourceDir).filePath(layer.file))
                     .arg(renderer->viewBoxF().width())
                     .arg(renderer->viewBoxF().height())
                     .arg(size.width())
                     .arg(size.height());
        return false;
    }
    const QPointF centre(size.width() / 2.0, size.height() / 2.0);
    const QSizeF scaled = QSizeF(size) * layer.scale;
    painter.save();
    painter.translate(centre);
    painter.rotate(layer.rotation + extraRotation);
    renderer->render(&painter, QRectF(QPointF(-scaled.width() / 2.0, -scaled.height() / 2.0), scaled));
    painter.restore();
    return true;
}

QSvgRenderer *Rasteriser::drawing(const Layer &layer, QString *error) const
{
    // Many pictures share a drawing in the same colours (tiles, discs).
    QStringList swaps;
    for (auto it = layer.colours.cbegin(); it != layer.colours.cend(); ++it)
        swaps << it.key() + QLatin1Char('=') + it.value();
    swaps.sort();
    const QString key = layer.file + QLatin1Char(' ') + swaps.join(QLatin1Char(' '));
    auto found = m_drawings.constFind(key);
    if (found != m_drawings.constEnd())
        return found->get();

    QFile file(QDir(m_sourceDir).filePath(layer.file));
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString());
        return nullptr;
    }
    auto renderer = std::make_shared<QSvgRenderer>(recolour(file.readAll(), layer.colours));
    if (!renderer->isValid()) {
        *error = QStringLiteral("%1 is not a valid SVG drawing").arg(file.fileName());
        return nullptr;
    }
    m_drawings.insert(key, renderer);
    return renderer.get();
}

void flattenOntoMatte(QImage *image, const QColor &matte)
{
    *image = image->convertToFormat(QImage::Format_ARGB32);
    const int mr = matte.red(), mg = matte.green(), mb = matte.blue();
    for (int y = 0; y < image->height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(image->scanLine(y));
        for (int x = 0; x < image->width(); ++x) {
            const QRgb p = line[x];
            const int a = qAlpha(p);
            if (a < 128) {
                line[x] = qRgba(0, 0, 0, 0);
                continue;
            }
            auto blend = [a](int c, int m) { return (c * a + m * (255 - a) + 127) / 255; };
            line[x] = qRgba(blend(qRed(p), mr), blend(qGreen(p), mg), blend(qBlue(p), mb), 255);
        }
    }
}

} // namespace Art
} // namespace Varnel
