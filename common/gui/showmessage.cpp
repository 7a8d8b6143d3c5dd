#include "common/gui/showmessage.h"

#include "common/appinfo.h"
#include "common/gui/msgbox.h"
#include "common/gui/overlay.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpacerItem>

#include <functional>

namespace Varnel {

namespace {

QPointer<QWidget> &mainWindowSlot()
{
    static QPointer<QWidget> window;
    return window;
}

// Runs a box made by fill over the main window (dimmed by the overlay when
// it is the root window). Returns exec's result; pressed, when given, gets
// the button clicked.
int runBox(const std::function<void(MsgBox *)> &fill, QAbstractButton **pressed = nullptr)
{
    QWidget *parent = mainWindow();

    // Only the root window gets the overlay; by class name, since the
    // window class lives above this library.
    QPointer<Overlay> overlay;
    if (parent && parent->inherits("Varnel::RootWindow")) {
        overlay = new Overlay(parent);
        overlay->show();
    }

    // Deleted on close, which is deferred: it is still there after exec.
    QPointer<MsgBox> box = new MsgBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setMinimumSize(300, 400);
    box->setWindowTitle(applicationName());
    box->setIcon(QMessageBox::NoIcon);
    fill(box);

    // The spacer keeps the box at least 300 pixels wide.
    if (auto *grid = qobject_cast<QGridLayout *>(box->layout())) {
        grid->addItem(new QSpacerItem(300, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }

    const int result = box->exec();
    if (pressed)
        *pressed = box ? box->clickedButton() : nullptr;
    delete overlay;
    return result;
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
    return static_cast<QMessageBox::StandardButton>(runBox([&](MsgBox *box) {
        if (!detail.isEmpty()) {
            box->setText(detail);
            box->setInformativeText(text);
        } else {
            box->setText(text);
        }
        box->setStandardButtons(buttons);
    }));
}

void showAddress(const QString &text, const QString &address)
{
    QPushButton *copy = nullptr;
    QAbstractButton *pressed = nullptr;
    runBox(
        [&](MsgBox *box) {
            box->setText(text);
            copy = box->addButton(QCoreApplication::translate("Varnel::MsgBox", "Copy address"),
                                  QMessageBox::AcceptRole);
            // Copying is what the box is for; OK (and Escape) only close it.
            QPushButton *ok = box->addButton(QMessageBox::Ok);
            ok->setProperty("role", QStringLiteral("secondary"));
            box->setDefaultButton(copy);
            box->setEscapeButton(ok);
            // Read-only and scrolled sideways: a long address (a link with
            // its token) neither widens the box nor wraps where it could not
            // be copied whole.
            auto *field = new QLineEdit(address, box);
            field->setObjectName(QStringLiteral("editAddress"));
            field->setReadOnly(true);
            field->setCursorPosition(0);
            field->setAccessibleName(QCoreApplication::translate("Varnel::MsgBox", "Address"));
            // Between the text and the buttons, in the text's column.
            auto *grid = qobject_cast<QGridLayout *>(box->layout());
            auto *buttons = box->findChild<QDialogButtonBox *>();
            if (!grid || !buttons)
                return;
            int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
            grid->getItemPosition(grid->indexOf(buttons), &row, &column, &rowSpan, &columnSpan);
            grid->removeWidget(buttons);
            grid->addWidget(field, row, column, 1, columnSpan);
            grid->addWidget(buttons, row + 1, column, 1, columnSpan);
            // Tab goes as the box reads: the address, then its buttons.
            QWidget::setTabOrder(field, copy);
            QWidget::setTabOrder(copy, ok);
        },
        &pressed);
    if (copy && pressed == copy)
        QGuiApplication::clipboard()->setText(address);
}

} // namespace Varnel
