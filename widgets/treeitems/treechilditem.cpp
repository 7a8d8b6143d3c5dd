#include "widgets/treeitems/treechilditem.h"
#include "ui_treechilditem.h"

#include "common/config.h"
#include "common/gui/iconcache.h"
#include "common/gui/showmessage.h"
#include "common/gui/showrefresh.h"
#include "common/settingsstore.h"
#include "widgets/toast/dialog.h"

#include <QPainter>
#include <QSettings>
#include <QStyleOption>

namespace Varnel {

namespace {

constexpr QSize kPictureBox(15, 15);
constexpr int kStarHeight = 15;

const char kTopRounded[] =
    "QWidget{border-top-left-radius: 8px;border-top-right-radius:8px;background:white}"
    "                            QWidget::hover{background:#F5F5F5;}";
const char kBottomRounded[] =
    "QWidget{border-bottom-left-radius: 8px;border-bottom-right-radius:8px;background:white}"
    "                            QWidget::hover{background:#F5F5F5;}";
const char kFullyRounded[] =
    "QWidget{border-radius:8px;background:white}"
    "                            QWidget::hover{background:#F5F5F5;}";

} // namespace

TreeChildItem::TreeChildItem(bool isFirst, bool isLast, std::shared_ptr<IPBundle> bundle, QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::TreeChildItem>())
    , m_bundle(std::move(bundle))
    , m_isFirst(isFirst)
    , m_isLast(isLast)
{
    ui->setupUi(this);
    ui->lblCity->setText(m_bundle ? m_bundle->ipName() : QString());
    ui->lblLocation->setPixmap(cachedPicture(QStringLiteral(":/img/location icon.png"), kPictureBox));
    setStar(true);
    if (m_bundle && m_bundle->isLocked())
        ui->lblLock->setPixmap(cachedPicture(QStringLiteral(":/img/lock.png"), kPictureBox));
    else
        ui->lblLock->hide();
    refreshOnShow(this, [this] { refreshAppearance(); });
}

TreeChildItem::~TreeChildItem() = default;

void TreeChildItem::refreshAppearance()
{
    // The last style set wins: a row that is first and last ends fully
    // rounded. A row shown again keeps the style it has.
    const char *position = nullptr;
    if (m_isFirst)
        position = kTopRounded;
    if (m_isLast)
        position = kBottomRounded;
    if (m_isFirst && m_isLast)
        position = kFullyRounded;
    if (position && styleSheet() != QLatin1String(position))
        setStyleSheet(QLatin1String(position));
    setStar(m_bundle && Config::instance()->favourites().contains(m_bundle->ipId()));
}

void TreeChildItem::setStar(bool favourite)
{
    const QString path = favourite ? QStringLiteral(":/img/Star.png") : QStringLiteral(":/img/favourit.png");
    ui->btnFavorite->setIcon(QIcon(cachedPictureOfHeight(path, kStarHeight)));
}

void TreeChildItem::on_btnFavorite_clicked()
{
    if (!m_bundle)
        return;
    const auto config = Config::instance();
    const int id = m_bundle->ipId();
    const bool wasFavourite = config->favourites().contains(id);
    if (wasFavourite)
        config->removeFavourite(id);
    else
        config->addFavourite(id);
    setStar(!wasFavourite);

    // The tree is rebuilt at once and this row with it; the root window
    // keeps the toast for its whole time.
    QWidget *owner = mainWindow() ? mainWindow() : window();
    auto *toast = new Dialog(wasFavourite ? tr("Removed from favorite locations") : tr("added to favorite locations"),
                             owner);
    toast->show();

    writeSettings(QStringLiteral("Varnel"), QStringLiteral("Morvanta Limited"),
                  [](QSettings &s) { s.setValue(QStringLiteral("FAVORITE"), true); });
    emit favoriteButtonClick();
}

void TreeChildItem::paintEvent(QPaintEvent *)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}

} // namespace Varnel
