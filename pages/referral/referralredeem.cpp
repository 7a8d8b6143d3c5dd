#include "pages/referral/referralredeem.h"
#include "ui_referralredeem.h"

#include "backend/apirequest.h"
#include "common/gui/showmessage.h"
#include "widgets/busystate.h"
#include "widgets/congratulations/congratulationspopup.h"

#include <QPixmap>

namespace Varnel {

ReferralRedeem::ReferralRedeem(QWidget *parent)
    : Page(parent)
    , ui(std::make_unique<Ui::ReferralRedeem>())
{
    ui->setupUi(this);
    setBackButton(ui->btnBack);
    recordWhenShown(LeftPage::ReferralRedeem);
    ui->lblPicture->setPixmap(QPixmap(QStringLiteral(":/img/refer friend.png"))
                                  .scaled(80, 80, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    m_busy = new BusyState(ui->btnSubmit, this);
    m_busy->setWidgets({ui->editCode, ui->btnBack});
    connect(ui->editCode, &QLineEdit::returnPressed, this, &ReferralRedeem::on_btnSubmit_pressed);
}

ReferralRedeem::~ReferralRedeem() = default;

void ReferralRedeem::on_btnSubmit_pressed()
{
    const QString code = ui->editCode->text().trimmed();
    if (code.isEmpty()) {
        showMessage(tr("Refer code is empty!"), QMessageBox::Ok);
        return;
    }
    const auto api = ApiRequest::instance();
    int result = 0;
    if (!m_busy->run([&] { result = api->referRedeem(code); }))
        return;
    if (result != 0) {
        showMessage(api->message(), QMessageBox::Ok);
    } else {
        recordPages(LeftPage::ReferralRedeem);
        emit refresh();
        auto *popup = new CongratulationsPopup(this);
        connect(popup, &CongratulationsPopup::connectToReferPage, this, &Page::clickBack);
        popup->open();
    }
    ui->editCode->clear();
}

} // namespace Varnel
