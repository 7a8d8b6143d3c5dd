#pragma once

#include <QWidget>

namespace Varnel {

// A card of the pages that acts as one big button: it draws its style
// sheet's background and border and emits clicked() on a mouse press.
class ClickableCard : public QWidget
{
    Q_OBJECT
public:
    explicit ClickableCard(QWidget *parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
};

} // namespace Varnel
