#include "app/windowgeometry.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace Varnel {

QPoint centredTopLeft(const QSize &screen, const QSize &frame)
{
    return QPoint(screen.width() / 2 - frame.width() / 2, screen.height() / 2 - frame.height() / 2);
}

void fixMainWindowGeometry(QWidget *window)
{
    const Qt::WindowFlags flags = window->windowFlags() | Qt::MSWindowsFixedSizeDialogHint
        | Qt::WindowMinimizeButtonHint | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint;
    // A window not made yet only needs the flags noted: setting them the usual
    // way re-parents it, which styles every widget in it over again.
    if (window->testAttribute(Qt::WA_WState_Created))
        window->setWindowFlags(flags);
    else
        window->overrideWindowFlags(flags);
    window->setFixedSize(1080, 740);

    const QSize frame = window->frameGeometry().size();
    QSize screen;
    if (const QScreen *primary = QGuiApplication::primaryScreen())
        screen = primary->geometry().size();
    window->setGeometry(QRect(centredTopLeft(screen, frame), frame));
}

} // namespace Varnel
