#include "pages/autologin/autologinpage.h"
#include "ui_autologinpage.h"

#include "backend/apirequest.h"
#include "backend/vpncredentials.h"
#include "common/appinfo.h"
#include "common/config.h"
#include "common/gui/iconcache.h"
#include "common/gui/outcometext.h"
#include "common/gui/showmessage.h"
#include "common/gui/showrefresh.h"
#include "widgets/busystate.h"

namespace Varnel {

AutoLoginPage::AutoLoginPage(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::AutoLoginPage>())
{
    ui->setupUi(this);
    // Drawn for the screen's pixel ratio at the size the form shows it.
    showPicture(ui->lblLogo, QStringLiteral(":/img/varnel-vpn-logo.png"), ui->lblLogo->maximumSize());
    ui->lblTitle->setText(applicationName());
    ui->lblVersion->setText(tr("Version %1").arg(applicationVersion()));

    m_busy = new BusyState(ui->lblBusy, this);
    refreshOnShow(this, [this] { attemptLogin(); });
}

AutoLoginPage::~AutoLoginPage() = default;

void AutoLoginPage::attemptLogin()
{
    const auto config = Config::instance();
    const auto api = ApiRequest::instance();
    QString username;
    QString password;
    int result = 0;
    const bool ran = m_busy->run([&] {
        config->load();
        username = config->serverHash();
        password = config->connectionHash();
        result = api->login(username, password);
    });
    if (!ran)
        return;

    if (result == 0) {
        setVpnCredentials(username, password);
        config->setAutoLogin(true);
        emit loginSuccessfull();
        return;
    }
    showMessage(Outcomes::login().text(result, api->message()), QMessageBox::Ok);
    emit loginFailed();
}

} // namespace Varnel
