#include "widgets/treeitems/treeparentitem.h"
#include "ui_treeparentitem.h"

#include "common/gui/iconcache.h"
#include "common/iconnames.h"

namespace Varnel {

namespace {

const QString kArrow = QStringLiteral(":/img/arrow.png");
constexpr QSize kArrowBox(14, 14);
constexpr QSize kIconBox(30, 30);
constexpr int kTitleWidth = 200;

} // namespace

TreeParentItem::TreeParentItem(const QString &title, int code, QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::TreeParentItem>())
    , m_title(title)
{
    ui->setupUi(this);
    // The label's style sheet sets its font; measure with that one.
    ui->lblCountryName->ensurePolished();
    ui->lblCountryName->setText(
        ui->lblCountryName->fontMetrics().elidedText(title, Qt::ElideRight, kTitleWidth));
    ui->lblCountryIcon->setPixmap(cachedPicture(iconPath(code), kIconBox));
    ui->lblArrow->setPixmap(cachedPicture(kArrow, kArrowBox));
}

TreeParentItem::~TreeParentItem() = default;

void TreeParentItem::setArrowExpanded(bool expanded)
{
    ui->lblArrow->setPixmap(cachedPicture(kArrow, kArrowBox, expanded ? 90 : 0));
}

} // namespace Varnel
