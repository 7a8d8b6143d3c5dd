#include "app/rootwindow.h"
#include "ui_rootwindow.h"

#include "backend/logincache.h"
#include "common/appinfo.h"
#include "common/config.h"

#include <QPixmap>
#include <QTimer>

namespace Varnel {

namespace {

enum RootPage { AutoLoginPage = 0, LoginPage = 2 };

} // namespace

RootWindow::RootWindow(const QString &launchMode, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::RootWindow>())
{
    // A start through the URL scheme must not log in from a stale reply.
    if (launchMode == QLatin1String("Yes"))
        LoginCache::write(QJsonDocument());

    ui->setupUi(this);
    setWindowTitle(applicationName());
    changeBackground(OpenConnectConnection::Disconnected);

    connect(OpenConnectConnection::instance().get(), &OpenConnectConnection::statusChanged, this,
            &RootWindow::changeBackground, Qt::QueuedConnection);
}

RootWindow::~RootWindow() = default;

void RootWindow::changeBackground(OpenConnectConnection::Status status)
{
    m_background = status == OpenConnectConnection::Connected ? QStringLiteral(":/img/background.png")
                                                              : QStringLiteral(":/img/white_background.png");
    paintBackground();
}

void RootWindow::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Every (re)show, also from the tray, starts over at the right page.
    QTimer::singleShot(0, this, &RootWindow::chooseStartPage);
}

void RootWindow::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    // A pixmap brush tiles: rescale, or a grown window repeats the picture.
    paintBackground();
}

void RootWindow::chooseStartPage()
{
    ui->stackedWidget->setCurrentIndex(Config::instance()->autoLogin() ? AutoLoginPage : LoginPage);
}

void RootWindow::paintBackground()
{
    const QPixmap picture(m_background);
    if (picture.isNull())
        return;
    QPalette palette = this->palette();
    palette.setBrush(QPalette::Window,
                     picture.scaled(size(), Qt::IgnoreAspectRatio, Qt::FastTransformation));
    setPalette(palette);
    update();
}

} // namespace Varnel
