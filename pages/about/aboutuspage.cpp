#include "pages/about/aboutuspage.h"
#include "ui_aboutuspage.h"

#include "backend/apirequest.h"
#include "common/appinfo.h"
#include "common/gui/iconcache.h"
#include "common/gui/outcometext.h"
#include "common/gui/showmessage.h"
#include "common/weblinks.h"
#include "widgets/busystate.h"

#include <QDesktopServices>

namespace Varnel {

AboutUsPage::AboutUsPage(QWidget *parent)
    : Page(parent)
    , ui(std::make_unique<Ui::AboutUsPage>())
{
    ui->setupUi(this);
    setBackButton(ui->btnBack);
    showPicture(ui->lblLogo, QStringLiteral(":/img/logo.png"), QSize(56, 56));
    ui->lblVersion->setText(tr("Version %1").arg(applicationVersion()));

    m_busy = new BusyState(ui->btnSubscribe, this);
    m_busy->setWidgets({ui->editEmail});
    connect(ui->btnSubscribe, &QPushButton::clicked, this, &AboutUsPage::subscribe);
    connect(ui->editEmail, &QLineEdit::returnPressed, this, &AboutUsPage::subscribe);

    using WebLinks::Network;
    const auto opens = [this](QAbstractButton *button, const QUrl &url) {
        connect(button, &QAbstractButton::clicked, this, [url] { QDesktopServices::openUrl(url); });
    };
    opens(ui->btnReview, WebLinks::review());
    opens(ui->btnUpdate, WebLinks::updates());
    opens(ui->btnFacebook, WebLinks::socialPage(Network::Facebook));
    opens(ui->btnX, WebLinks::socialPage(Network::X));
    opens(ui->btnInstagram, WebLinks::socialPage(Network::Instagram));
}

AboutUsPage::~AboutUsPage() = default;

void AboutUsPage::subscribe()
{
    const QString address = ui->editEmail->text().trimmed();
    const auto api = ApiRequest::instance();
    int result = 0;
    if (!m_busy->run([&] { result = api->subscribe(address); }))
        return;
    if (result == 0)
        ui->editEmail->clear();
    showMessage(Outcomes::subscribe().text(result, api->message()), QMessageBox::Ok);
}

} // namespace Varnel
