#pragma once

#include "resourcecatalogue.h"

#include <QImage>
#include <QRect>
#include <QVector>

class QPainter;

namespace Varnel {
namespace Art {

// Lays pictures out in labelled sections, each picture once on white and once
// on the accent red, so that transparent parts and white artwork both show.
class ContactSheet
{
public:
    explicit ContactSheet(int width);

    void addSection(const QString &title, const QVector<CataloguedPicture> &pictures);
    QImage render() const;

private:
    struct Cell {
        const CataloguedPicture *picture;
        QRect rect;        // whole cell, label included
        QSize preview;     // picture size as drawn
        QSize tile;        // each of the two backgrounds
    };
    struct Section {
        QString title;
        QVector<CataloguedPicture> pictures;
    };
    struct Text {
        QRect rect;
        QString text;
        bool heading;
    };
    struct Layout {
        QVector<Text> texts;
        QVector<Cell> cells;
        int height = 0;
    };

    Layout layOut() const;
    void paintCell(QPainter &painter, const Cell &cell) const;

    int m_width;
    QVector<Section> m_sections;
};

} // namespace Art
} // namespace Varnel
