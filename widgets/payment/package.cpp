#include "widgets/payment/package.h"
#include "ui_bottompackage.h"
#include "ui_package.h"

#include "backend/authtoken.h"
#include "backend/user.h"
#include "common/crypto.h"

#include <QDesktopServices>
#include <QLabel>

namespace Varnel {

PackageCard::PackageCard(const QJsonObject &package, QWidget *parent)
    : ClickableCard(parent)
    , m_package(package)
    , m_id(package.value(QLatin1String("id")).toString())
    , m_key(QString::fromLatin1(kAuthTokenKey))
{
    connect(this, &ClickableCard::clicked, this, &PackageCard::openCheckout);
}

void PackageCard::showTexts(QLabel *name, QLabel *price, QLabel *subTitle, QLabel *highlight) const
{
    const auto text = [this](const char *member) { return m_package.value(QLatin1String(member)).toString(); };
    name->setText(text("name"));
    price->setText(text("price"));
    subTitle->setText(text("sub_title"));
    highlight->setText(text("highlighted_text"));
    highlight->setVisible(!highlight->text().isEmpty());
}

void PackageCard::openCheckout() const
{
    QDesktopServices::openUrl(checkoutUrl(User::instance()->webPaymentPortalUrl(), m_id, m_key));
}

Package::Package(const QJsonObject &package, QWidget *parent)
    : PackageCard(package, parent)
    , ui(std::make_unique<Ui::Package>())
{
    ui->setupUi(this);
    // Cards without a highlight keep its line, so the names stand level.
    QSizePolicy keepLine = ui->lblHighlight->sizePolicy();
    keepLine.setRetainSizeWhenHidden(true);
    ui->lblHighlight->setSizePolicy(keepLine);
    showTexts(ui->lblName, ui->lblPrice, ui->lblSubTitle, ui->lblHighlight);
}

Package::~Package() = default;

BottomPackage::BottomPackage(const QJsonObject &package, QWidget *parent)
    : PackageCard(package, parent)
    , ui(std::make_unique<Ui::BottomPackage>())
{
    ui->setupUi(this);
    showTexts(ui->lblName, ui->lblPrice, ui->lblSubTitle, ui->lblHighlight);
}

BottomPackage::~BottomPackage() = default;

} // namespace Varnel
