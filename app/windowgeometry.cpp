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
    window->setWindowFlags(window->windowFlags() | Qt::MSWindowsFixedSizeDialogHint
                           | Qt::WindowMinimizeButtonHint | Qt::CustomizeWindowHint
                           | Qt::WindowCloseButtonHint);
    window->setFixedSize(1080, 740);

    const QSize frame = window->frameGeometry().size();
    QSize screen;
    if (const QScreen *primary = QGuiApplication::primaryScreen())
        screen = primary->geometry().size();
    window->setGeometry(QRect(centredTopLeft(screen, frame), frame));
}

} // namespace Varnel
