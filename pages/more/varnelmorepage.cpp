#include "pages/more/varnelmorepage.h"
#include "ui_varnelmorepage.h"

#include "common/gui/iconcache.h"
#include "common/weblinks.h"

#include <QDesktopServices>

namespace Varnel {

VarnelMorePage::VarnelMorePage(QWidget *parent)
    : Page(parent)
    , ui(std::make_unique<Ui::VarnelMorePage>())
{
    ui->setupUi(this);
    setBackButton(ui->btnBack);
    const struct {
        QLabel *icon;
        QPushButton *button;
        const char *picture;
        const char *product;
    } products[] = {
        {ui->lblBrowserIcon, ui->btnBrowser, ":/img/menu browser.png", "browser"},
        {ui->lblPasswordsIcon, ui->btnPasswords, ":/img/menu premium.png", "passwords"},
        {ui->lblMobileIcon, ui->btnMobile, ":/img/menu devices.png", "mobile"},
    };
    for (const auto &product : products) {
        showPicture(product.icon, QString::fromLatin1(product.picture), QSize(32, 32));
        const QUrl page = WebLinks::product(QString::fromLatin1(product.product));
        connect(product.button, &QPushButton::clicked, this, [page] { QDesktopServices::openUrl(page); });
    }
}

VarnelMorePage::~VarnelMorePage() = default;

} // namespace Varnel
