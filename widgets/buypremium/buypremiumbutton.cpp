#include "widgets/buypremium/buypremiumbutton.h"
#include "ui_buypremiumbutton.h"

#include <QPixmap>

namespace Varnel {

BuyPremiumButton::BuyPremiumButton(QWidget *parent)
    : ClickableCard(parent)
    , ui(std::make_unique<Ui::BuyPremiumButton>())
{
    ui->setupUi(this);
    // The crown in white, as on the premium account picture.
    ui->lblIcon->setPixmap(QPixmap(QStringLiteral(":/img/crown white.png"))
                               .scaled(20, 20, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

BuyPremiumButton::~BuyPremiumButton() = default;

} // namespace Varnel
