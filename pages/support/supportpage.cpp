#include "pages/support/supportpage.h"
#include "ui_supportpage.h"

#include "backend/user.h"
#include "common/appinfo.h"
#include "common/weblinks.h"

#include <QDesktopServices>

namespace Varnel {

SupportPage::SupportPage(QWidget *parent)
    : Page(parent)
    , ui(std::make_unique<Ui::SupportPage>())
{
    ui->setupUi(this);
    setBackButton(ui->btnBack);
    recordWhenShown(LeftPage::Support);
    ui->lblVersion->setText(tr("Version %1").arg(applicationVersion()));
    // The backend names its support address with the login; read at the press.
    connect(ui->btnMail, &QPushButton::clicked, this,
            [] { QDesktopServices::openUrl(WebLinks::supportMail(User::instance()->contactEmail())); });
    connect(ui->btnChat, &QPushButton::clicked, this, [] { QDesktopServices::openUrl(WebLinks::liveChat()); });
    connect(ui->btnHelp, &QPushButton::clicked, this, [] { QDesktopServices::openUrl(WebLinks::helpCenter()); });
}

SupportPage::~SupportPage() = default;

} // namespace Varnel
