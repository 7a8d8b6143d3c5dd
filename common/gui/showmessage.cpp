#include "common/gui/showmessage.h"

#include "common/appinfo.h"
#include "common/gui/msgbox.h"
#include "common/gui/overlay.h"

#include <QGridLayout>
#include <QPointer>
#include <QSpacerItem>

namespace Varnel {

namespace {

QPointer<QWidget> &mainWindowSlot()
{
    static QPointer<QWidget> window;
    return window;
}

} // namespace

void setMainWindow(QWidget *window)
{
    mainWindowSlot() = window;
}

QWidget *mainWindow()
{
    return mainWindowSlot();
}

QMessageBox::StandardButton showMessage(const QString &text, QMessageBox::StandardButtons buttons,
                                        const QString &detail)
{
    QWidget *parent = mainWindow();

    // Only the root window gets the overlay; by class name, since the
    // window class lives above this library.
    QPointer<Overlay> overlay;
    if (parent && parent->inherits("Varnel::RootWindow")) {
        overlay = new Overlay(parent);
        overlay->show();
    }

    auto *box = new MsgBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setMinimumSize(300, 400);
    box->setWindowTitle(applicationName());
    box->setIcon(QMessageBox::NoIcon);

    // The spacer keeps the box at least 300 pixels wide.
    if (auto *grid = qobject_cast<QGridLayout *>(box->layout())) {
        grid->addItem(new QSpacerItem(300, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }

    if (!detail.isEmpty()) {
        box->setText(detail);
        box->setInformativeText(text);
    } else {
        box->setText(text);
    }
    box->setStandardButtons(buttons);

    const auto pressed = static_cast<QMessageBox::StandardButton>(box->exec());
    delete overlay;
    return pressed;
}

} // namespace Varnel
