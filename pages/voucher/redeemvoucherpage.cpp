#include "pages/voucher/redeemvoucherpage.h"
#include "ui_redeemvoucherpage.h"

#include "backend/apirequest.h"
#include "common/gui/showmessage.h"

namespace Varnel {

RedeemVoucherPage::RedeemVoucherPage(QWidget *parent)
    : CodeEntryPage(parent)
    , ui(std::make_unique<Ui::RedeemVoucherPage>())
{
    ui->setupUi(this);
    recordWhenShown(LeftPage::RedeemVoucher);
    setUpCodeEntry(ui->lblPicture, QStringLiteral(":/img/redeem voucher.png"), ui->editCode, ui->btnSubmit,
                   ui->btnBack);
}

RedeemVoucherPage::~RedeemVoucherPage() = default;

void RedeemVoucherPage::on_btnSubmit_pressed()
{
    const auto api = ApiRequest::instance();
    // Blanks around a pasted code are not part of it.
    const QString code = ui->editCode->text().trimmed();
    if (!runBusy([&] { api->redeemVoucher(code); }))
        return;
    showMessage(api->message(), QMessageBox::Ok);
    ui->editCode->clear();
}

} // namespace Varnel
