#pragma once

#include <QColor>
#include <QMessageBox>

namespace Varnel {

// The program's message box: frameless and translucent, so it draws its own
// (optionally rounded, optionally outlined) background from its palette;
// rounded, it is also cut to its shape.
// The values can also be set from a style sheet through qproperty-*.
// It looks like the client's cards: room around the text and beside an
// icon, a light outline, and the safe answer (No, Cancel) as a quiet
// button beside the accent-coloured one (property role "secondary").
class MsgBox : public QMessageBox
{
    Q_OBJECT
    Q_PROPERTY(qreal radius READ radius WRITE setRadius)
    Q_PROPERTY(qreal borderWidth READ borderWidth WRITE setBorderWidth)
    Q_PROPERTY(QColor borderColor READ borderColor WRITE setBorderColor)
public:
    explicit MsgBox(QWidget *parent = nullptr);

    qreal radius() const { return m_radius; }
    void setRadius(qreal radius);

    // Negative: the frame width of the widget's style.
    qreal borderWidth() const { return m_borderWidth; }
    void setBorderWidth(qreal width);

    // Invalid: the palette's text colour.
    QColor borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateShape();

    qreal m_radius = 0.0;
    qreal m_borderWidth = -1.0;
    QColor m_borderColor;
};

} // namespace Varnel
