#include "pages/voucher/redeemvoucherpage.h"
#include "ui_redeemvoucherpage.h"

#include "backend/apirequest.h"
#include "common/gui/showmessage.h"
#include "widgets/busystate.h"

#include <QPixmap>

namespace Varnel {

RedeemVoucherPage::RedeemVoucherPage(QWidget *parent)
    : Page(parent)
    , ui(std::make_unique<Ui::RedeemVoucherPage>())
{
    ui->setupUi(this);
    setBackButton(ui->btnBack);
    recordWhenShown(LeftPage::RedeemVoucher);
    ui->lblPicture->setPixmap(QPixmap(QStringLiteral(":/img/redeem voucher.png"))
                                  .scaled(80, 80, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    m_busy = new BusyState(ui->btnSubmit, this);
    m_busy->setWidgets({ui->editCode, ui->btnBack});
    connect(ui->editCode, &QLineEdit::returnPressed, this, &RedeemVoucherPage::on_btnSubmit_pressed);
}

RedeemVoucherPage::~RedeemVoucherPage() = default;

void RedeemVoucherPage::on_btnSubmit_pressed()
{
    const auto api = ApiRequest::instance();
    // Blanks around a pasted code are not part of it.
    const QString code = ui->editCode->text().trimmed();
    if (!m_busy->run([&] { api->redeemVoucher(code); }))
        return;
    showMessage(api->message(), QMessageBox::Ok);
    ui->editCode->clear();
}

} // namespace Varnel
