#include "widgets/toast/dialog.h"
#include "ui_dialog.h"

#include "common/gui/shadow.h"
#include "common/gui/showmessage.h"

#include <QTimerEvent>

namespace Varnel {

namespace {

constexpr int kShowMs = 5000;
constexpr QPoint kCentre(170, 590);

} // namespace

Dialog::Dialog(const QString &text, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::Dialog>())
{
    setAttribute(Qt::WA_DeleteOnClose);
    m_closeTimer = startTimer(kShowMs, Qt::CoarseTimer);
    ui->setupUi(this);
    // The point is one of the main window (the window the user looks at),
    // else of the window the toast was raised from.
    QWidget *anchor = mainWindow() ? mainWindow() : (parent ? parent->window() : nullptr);
    // A tool tip kind of window: it never takes the keyboard focus (the
    // user may be typing a search), and where the window system places
    // windows itself (Wayland) it is still placed against its parent window
    // (an xdg popup), not wherever the compositor puts a new window. Its
    // parent is the anchor for that, when the caller gave none.
    if (!parent && anchor)
        setParent(anchor, windowFlags());
    setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                   | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);

    ui->lblText->setText(text);
    ensurePolished();   // sized with the style sheet's font
    adjustSize();
    QRect frame = frameGeometry();
    frame.moveCenter(anchor ? anchor->mapToGlobal(kCentre) : kCentre);
    move(frame.topLeft());

    setLargeShadow(this);
}

Dialog::~Dialog() = default;

void Dialog::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_closeTimer)
        return QDialog::timerEvent(event);
    killTimer(m_closeTimer);
    m_closeTimer = 0;
    close();
}

void Dialog::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    setMask(rect());
}

} // namespace Varnel
