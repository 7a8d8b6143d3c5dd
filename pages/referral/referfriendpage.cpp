#include "pages/referral/referfriendpage.h"
#include "ui_referfriendpage.h"

#include "backend/apirequest.h"
#include "backend/user.h"
#include "common/gui/clipboardcopy.h"
#include "common/gui/iconcache.h"
#include "common/gui/showmessage.h"
#include "widgets/busystate.h"
#include "widgets/sharepanel/sharepanel.h"

#include <QDebug>
#include <QPixmap>

namespace Varnel {

ReferFriendPage::ReferFriendPage(QWidget *parent)
    : Page(parent)
    , ui(std::make_unique<Ui::ReferFriendPage>())
{
    ui->setupUi(this);
    setBackButton(ui->btnBack);
    recordWhenShown(LeftPage::ReferFriend);
    showPicture(ui->lblPicture, QStringLiteral(":/img/refer friend.png"), QSize(80, 80));
    m_busy = new BusyState(ui->lblSpinner, this);
    m_busy->setWidgets({ui->btnSubscribe_3, ui->btnShare, ui->btnRedeemReferal});
}

ReferFriendPage::~ReferFriendPage() = default;

void ReferFriendPage::reload()
{
    qDebug() << "enter init............";
    const auto api = ApiRequest::instance();
    int result = 0;
    if (!m_busy->run([&] { result = api->referInfo(); }))
        return;
    if (result > 1) {
        showMessage(tr("Could not connect to server!"), QMessageBox::Ok);
        // The user may have gone elsewhere meanwhile: only a page still
        // shown closes itself.
        if (isVisible())
            emit clickBack();
    }
    fill(User::instance()->referInfo());
}

void ReferFriendPage::fill(const QJsonObject &info)
{
    for (auto it = info.constBegin(); it != info.constEnd(); ++it) {
        const QString text = it.value().toString();
        if (it.key() == QLatin1String("pageContent")) {
            ui->lblPageContent->setText(text);
        } else if (it.key() == QLatin1String("message")) {
            ui->lblMessage->setText(text);
        } else if (it.key() == QLatin1String("title")) {
            ui->lblReferTitle->setText(text);
        } else if (it.key() == QLatin1String("referral_code")) {
            ui->editCode->setText(text);
            User::instance()->setReferCode(text);
        }
    }
}

void ReferFriendPage::on_btnRedeemReferal_pressed()
{
    emit redeemReferalClick();
}

void ReferFriendPage::on_btnSubscribe_3_pressed()
{
    copyWithNotice(ui->editCode->text(), tr("Referral code copied to clipboard"));
}

void ReferFriendPage::on_btnShare_pressed()
{
    auto *panel = new SharePanel(User::instance()->referCode(), this);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->open();
}

} // namespace Varnel
