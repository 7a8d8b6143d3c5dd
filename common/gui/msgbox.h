#pragma once

#include <QMessageBox>

namespace Varnel {

// The program's message box: frameless and translucent, so it draws its own
// (optionally rounded, optionally outlined) background from its palette.
// Both values can also be set from a style sheet through qproperty-*.
class MsgBox : public QMessageBox
{
    Q_OBJECT
    Q_PROPERTY(qreal radius READ radius WRITE setRadius)
    Q_PROPERTY(qreal borderWidth READ borderWidth WRITE setBorderWidth)
public:
    explicit MsgBox(QWidget *parent = nullptr);

    qreal radius() const { return m_radius; }
    void setRadius(qreal radius);

    // Negative: the frame width of the widget's style.
    qreal borderWidth() const { return m_borderWidth; }
    void setBorderWidth(qreal width);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qreal m_radius = 0.0;
    qreal m_borderWidth = -1.0;
};

} // namespace Varnel
