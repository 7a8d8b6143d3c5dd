#include "pages/support/supportpage.h"
#include "ui_supportpage.h"

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
    connect(ui->btnMail, &QPushButton::clicked, this, [] { QDesktopServices::openUrl(WebLinks::supportMail()); });
    connect(ui->btnChat, &QPushButton::clicked, this, [] { QDesktopServices::openUrl(WebLinks::liveChat()); });
    connect(ui->btnHelp, &QPushButton::clicked, this, [] { QDesktopServices::openUrl(WebLinks::helpCenter()); });
}

SupportPage::~SupportPage() = default;

} // namespace Varnel
