#include "startuplook.h"

#include "common/stylefonts.h"

#include <QApplication>
#include <QDirIterator>
#include <QFile>
#include <QFontDatabase>
#include <QPixmap>
#include <QVBoxLayout>
#include <QWidget>

void applyStartupLook()
{
    QDirIterator fonts(QStringLiteral(":/fonts/fonts"), {QStringLiteral("*.ttf")});
    while (fonts.hasNext())
        QFontDatabase::addApplicationFont(fonts.next());

    QFile style(QStringLiteral(":/style/style.qss"));
    if (style.open(QIODevice::ReadOnly))
        qApp->setStyleSheet(QString::fromUtf8(Varnel::rewriteFonts(style.readAll(), 14, 22, 500)));
}

QWidget *hostInRootWindowFrame(QWidget *page)
{
    auto *host = new QWidget;
    host->setFixedSize(1080, 740);
    QPalette palette = host->palette();
    palette.setBrush(QPalette::Window, QPixmap(QStringLiteral(":/img/white_background.png"))
                                           .scaled(host->size(), Qt::IgnoreAspectRatio));
    host->setPalette(palette);
    host->setAutoFillBackground(true);
    auto *layout = new QVBoxLayout(host);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(page);
    host->show();
    return host;
}
