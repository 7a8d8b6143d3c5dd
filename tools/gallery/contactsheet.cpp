#include "contactsheet.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace Varnel {
namespace Art {

namespace {

const int margin = 24;
const int gap = 16;
const int tileGap = 4;
const int padding = 8;
const int titleHeight = 40;
const int labelHeight = 34;
const int emptyNoteHeight = 28;
const QSize smallBox(128, 128);
const QSize largeBox(288, 200);
const int largeFrom = 300; // pictures wider or taller than this get the large box
// The two backgrounds every picture is shown on: the window's white and the accent red.
const QColor lightTile(0xFF, 0xFF, 0xFF);
const QColor accentTile(0xBF, 0x1E, 0x2E);

QSize previewSize(const QSize &size)
{
    if (size.isEmpty())
        return smallBox;
    const QSize box = (size.width() > largeFrom || size.height() > largeFrom) ? largeBox : smallBox;
    if (size.width() <= box.width() && size.height() <= box.height())
        return size;
    return size.scaled(box, Qt::KeepAspectRatio);
}

QFont labelFont(bool bold, int pixels)
{
    QFont font;
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QString describe(const CataloguedPicture &picture)
{
    if (picture.image.isNull())
        return QStringLiteral("cannot be read");
    QString text = QStringLiteral("%1 x %2").arg(picture.size.width()).arg(picture.size.height());
    if (picture.frames > 1)
        text += QStringLiteral(", %1 frames, %2 ms").arg(picture.frames).arg(picture.durationMs);
    return text;
}

// Room for the label under a picture, within reason: longer names are elided.
int labelWidth(const CataloguedPicture &picture)
{
    const int name = QFontMetrics(labelFont(true, 12)).horizontalAdvance(picture.name);
    const int details = QFontMetrics(labelFont(false, 11)).horizontalAdvance(describe(picture));
    return std::min(std::max({name, details, 140}), 260);
}

} // namespace

ContactSheet::ContactSheet(int width)
    : m_width(width)
{
}

void ContactSheet::addSection(const QString &title, const QVector<CataloguedPicture> &pictures)
{
    m_sections.append({title, pictures});
}

ContactSheet::Layout ContactSheet::layOut() const
{
    Layout layout;
    int y = margin;
    for (const Section &section : m_sections) {
        layout.texts.append({QRect(margin, y, m_width - 2 * margin, titleHeight), section.title, true});
        y += titleHeight;
        if (section.pictures.isEmpty()) {
            layout.texts.append({QRect(margin, y, m_width - 2 * margin, emptyNoteHeight),
                                 QStringLiteral("(no pictures in this folder)"), false});
            y += emptyNoteHeight + gap;
            continue;
        }
        int x = margin;
        int rowHeight = 0;
        for (const CataloguedPicture &picture : section.pictures) {
            const QSize preview = previewSize(picture.size);
            const QSize tile(std::max(preview.width() + 2 * padding, 56),
                             std::max(preview.height() + 2 * padding, 56));
            const QSize cell(std::max(2 * tile.width() + tileGap, labelWidth(picture)), tile.height() + labelHeight);
            if (x > margin && x + cell.width() > m_width - margin) {
                x = margin;
                y += rowHeight + gap;
                rowHeight = 0;
            }
            layout.cells.append({&picture, QRect(QPoint(x, y), cell), preview, tile});
            x += cell.width() + gap;
            rowHeight = std::max(rowHeight, cell.height());
        }
        y += rowHeight + 2 * gap;
    }
    layout.height = y + margin - gap;
    return layout;
}

void ContactSheet::paintCell(QPainter &painter, const Cell &cell) const
{
    const QColor backgrounds[2] = {lightTile, accentTile};
    for (int i = 0; i < 2; ++i) {
        const QRect tileRect(QPoint(cell.rect.left() + i * (cell.tile.width() + tileGap), cell.rect.top()), cell.tile);
        painter.fillRect(tileRect, backgrounds[i]);
        if (cell.picture->image.isNull())
            continue;
        QRect target(QPoint(0, 0), cell.preview);
        target.moveCenter(tileRect.center());
        painter.drawImage(target, cell.picture->image);
    }
    const QRect label(cell.rect.left(), cell.rect.bottom() - labelHeight + 4, cell.rect.width(), labelHeight - 4);
    painter.setPen(QColor(QStringLiteral("#434343")));
    painter.setFont(labelFont(true, 12));
    const QString name = QFontMetrics(painter.font()).elidedText(cell.picture->name, Qt::ElideMiddle, label.width());
    painter.drawText(label, Qt::AlignLeft | Qt::AlignTop, name);
    painter.setFont(labelFont(false, 11));
    painter.setPen(cell.picture->image.isNull() ? accentTile : QColor(QStringLiteral("#7A7A7A")));
    painter.drawText(label, Qt::AlignLeft | Qt::AlignBottom, describe(*cell.picture));
}

QImage ContactSheet::render() const
{
    const Layout layout = layOut();
    QImage sheet(m_width, layout.height, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(QColor(QStringLiteral("#E6E6E6")));
    QPainter painter(&sheet);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
    painter.setPen(QColor(QStringLiteral("#434343")));
    for (const Text &text : layout.texts) {
        painter.setFont(labelFont(text.heading, text.heading ? 18 : 13));
        painter.drawText(text.rect, Qt::AlignLeft | Qt::AlignVCenter, text.text);
    }
    for (const Cell &cell : layout.cells)
        paintCell(painter, cell);
    painter.end();
    return sheet;
}

} // namespace Art
} // namespace Varnel
