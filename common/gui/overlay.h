#pragma once

#include <QWidget>

namespace Varnel {

// A child that covers its parent's whole area while a message box is open,
// so nothing under it reacts to the mouse. It paints nothing.
class Overlay : public QWidget
{
    Q_OBJECT
public:
    explicit Overlay(QWidget *parent);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

} // namespace Varnel
