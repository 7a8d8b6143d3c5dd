#pragma once

#include <QDialog>
#include <QString>

#include <memory>

namespace Varnel {

namespace Ui {
class Dialog;
}

// The self-closing notice (toast): a black frameless box centred at
// (170, 590) of the main window, closed after five seconds. The caller
// shows it without modality; it deletes itself when it closes. It never
// takes the keyboard focus.
class Dialog : public QDialog
{
    Q_OBJECT
public:
    explicit Dialog(const QString &text, QWidget *parent = nullptr);
    ~Dialog() override;

protected:
    void timerEvent(QTimerEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    std::unique_ptr<Ui::Dialog> ui;
    int m_closeTimer = 0;
};

} // namespace Varnel
