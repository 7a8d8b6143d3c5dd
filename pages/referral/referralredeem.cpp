#include "pages/referral/referralredeem.h"
#include "ui_referralredeem.h"

#include "backend/apirequest.h"
#include "common/gui/showmessage.h"
#include "widgets/congratulations/congratulationspopup.h"

namespace Varnel {

ReferralRedeem::ReferralRedeem(QWidget *parent)
    : CodeEntryPage(parent)
    , ui(std::make_unique<Ui::ReferralRedeem>())
{
    ui->setupUi(this);
    recordWhenShown(LeftPage::ReferralRedeem);
    setUpCodeEntry(ui->lblPicture, QStringLiteral(":/img/refer friend.png"), ui->editCode, ui->btnSubmit,
                   ui->btnBack);
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
    if (!runBusy([&] { result = api->referRedeem(code); }))
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
