#include "pages/autologin/autologinpage.h"
#include "ui_autologinpage.h"

#include "backend/apirequest.h"
#include "backend/vpncredentials.h"
#include "common/appinfo.h"
#include "common/config.h"
#include "common/gui/showmessage.h"
#include "pages/login/loginoutcome.h"
#include "widgets/busystate.h"

#include <QMovie>
#include <QTimer>

namespace Varnel {

AutoLoginPage::AutoLoginPage(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::AutoLoginPage>())
{
    ui->setupUi(this);
    ui->lblTitle->setText(applicationName());
    ui->lblVersion->setText(tr("Version %1").arg(applicationVersion()));

    m_movie = new QMovie(spinnerResource(), QByteArray(), this);
    m_movie->setScaledSize(ui->lblBusy->minimumSize());
    ui->lblBusy->setMovie(m_movie);
    ui->lblBusy->hide();
}

AutoLoginPage::~AutoLoginPage() = default;

void AutoLoginPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    QTimer::singleShot(0, this, &AutoLoginPage::attemptLogin);
}

void AutoLoginPage::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_movie->stop();
}

void AutoLoginPage::attemptLogin()
{
    ui->lblBusy->show();
    m_movie->start();
    if (m_attempting)
        return;
    m_attempting = true;

    const auto config = Config::instance();
    config->load();
    const QString username = config->serverHash();
    const QString password = config->connectionHash();

    const auto api = ApiRequest::instance();
    const int result = api->login(username, password);
    m_attempting = false;

    if (result == 0) {
        setVpnCredentials(username, password);
        config->setAutoLogin(true);
        emit loginSuccessfull();
        return;
    }
    showMessage(loginFailureText(result, api->message()), QMessageBox::Ok);
    m_movie->stop();
    emit loginFailed();
}

} // namespace Varnel
