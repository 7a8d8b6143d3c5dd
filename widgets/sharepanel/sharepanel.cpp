#include "widgets/sharepanel/sharepanel.h"
#include "ui_sharepanel.h"

#include "common/appinfo.h"
#include "common/weblinks.h"

#include <QDesktopServices>

namespace Varnel {

SharePanel::SharePanel(const QString &referCode, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::SharePanel>())
{
    ui->setupUi(this);
    setWindowTitle(applicationName());
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
    ui->lblCode->setText(referCode);
    ui->lblCode->setTextInteractionFlags(Qt::TextSelectableByMouse);

    using WebLinks::Network;
    const auto opens = [this](QAbstractButton *button, const QUrl &url) {
        connect(button, &QAbstractButton::clicked, this, [url] { QDesktopServices::openUrl(url); });
    };
    opens(ui->btnMail, WebLinks::shareByMail(referCode));
    opens(ui->btnFacebook, WebLinks::shareOn(Network::Facebook, referCode));
    opens(ui->btnX, WebLinks::shareOn(Network::X, referCode));
    opens(ui->btnWhatsApp, WebLinks::shareOn(Network::WhatsApp, referCode));
    opens(ui->btnTelegram, WebLinks::shareOn(Network::Telegram, referCode));
    connect(ui->btnClose, &QPushButton::clicked, this, &QDialog::close);
}

SharePanel::~SharePanel() = default;

} // namespace Varnel
