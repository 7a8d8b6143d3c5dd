#include "widgets/payment/webpicturelink.h"
#include "ui_accoutbottombutton.h"
#include "ui_homeimage.h"

#include "backend/authtoken.h"
#include "backend/user.h"
#include "common/crypto.h"
#include "common/gui/iconcache.h"
#include "common/gui/remotepicture.h"
#include "common/gui/showrefresh.h"

#include <QDesktopServices>
#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace Varnel {

namespace {

constexpr qreal kCornerRadius = 8;

} // namespace

WebPictureLink::WebPictureLink(QWidget *parent)
    : ClickableCard(parent)
    , m_fetch(new RemotePicture(this))
    , m_key(QString::fromLatin1(kAuthTokenKey))
{
    connect(this, &ClickableCard::clicked, this, &WebPictureLink::openPage);
    connect(m_fetch, &RemotePicture::arrived, this, [this](const QImage &picture) {
        m_picture = picture;
        showPicture();
    });
}

WebPictureLink::~WebPictureLink() = default;

void WebPictureLink::load(QLabel *picture, const QString &pictureUrl, const QString &pageUrl)
{
    m_label = picture;
    m_page = pageUrl;
    // The same picture again (a page shown once more) is not fetched again.
    if (pictureUrl == m_pictureUrl && !m_picture.isNull())
        return;
    m_pictureUrl = pictureUrl;
    m_picture = QImage();
    m_label->hide();
    // Nothing to press (nor to reach by Tab) until the picture is there.
    setFocusPolicy(Qt::NoFocus);
    m_fetch->fetch(QUrl(pictureUrl));
}

void WebPictureLink::resizeEvent(QResizeEvent *event)
{
    ClickableCard::resizeEvent(event);
    showPicture();
}

void WebPictureLink::showPicture()
{
    if (!m_label || m_picture.isNull())
        return;
    // The label's size limits, else the card's inner width (a hidden label
    // has no size of its own yet).
    int width = m_label->maximumWidth();
    if (width >= QWIDGETSIZE_MAX) {
        const QMargins margins = layout() ? layout()->contentsMargins() : QMargins();
        width = contentsRect().width() - margins.left() - margins.right();
    }
    const int height = qMin(m_label->maximumHeight(), 4 * m_picture.height());
    // As many pixels as the screen shows, so a large picture stays sharp.
    const qreal ratio = pictureRatio();
    const QImage scaled = m_picture.scaled(qMax(1, qRound(width * ratio)), qMax(1, qRound(height * ratio)),
                                           Qt::KeepAspectRatio, Qt::SmoothTransformation);
    // Rounded like the cards around it.
    QPixmap rounded(scaled.size());
    rounded.fill(Qt::transparent);
    QPainter painter(&rounded);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath corners;
    corners.addRoundedRect(QRectF(rounded.rect()), kCornerRadius * ratio, kCornerRadius * ratio);
    painter.setClipPath(corners);
    painter.drawImage(0, 0, scaled);
    painter.end();
    rounded.setDevicePixelRatio(ratio);
    m_label->setPixmap(rounded);
    m_label->setFixedHeight(qRound(scaled.height() / ratio));
    m_label->show();
    setFocusPolicy(Qt::StrongFocus);
}

void WebPictureLink::openPage() const
{
    if (!m_page.isEmpty())
        QDesktopServices::openUrl(webPageUrl(m_page, m_key));
}

AccoutBottomButton::AccoutBottomButton(QWidget *parent)
    : WebPictureLink(parent)
    , ui(std::make_unique<Ui::AccoutBottomButton>())
{
    ui->setupUi(this);
    ui->lblPicture->hide();
    setAccessibleName(tr("Everything premium includes"));
    setAccessibleDescription(tr("Opens the list in the browser"));
    const auto user = User::instance();
    load(ui->lblPicture, user->featuresImgUrl(), user->featuresHref());
}

AccoutBottomButton::~AccoutBottomButton() = default;

HomeImage::HomeImage(QWidget *parent)
    : WebPictureLink(parent)
    , ui(std::make_unique<Ui::HomeImage>())
{
    ui->setupUi(this);
    ui->lblPicture->hide();
    setAccessibleName(tr("Banner"));
    setAccessibleDescription(tr("Opens its page in the browser"));
    // The home screen outlives logins: the banner is the account's of the moment.
    refreshOnShow(this, [this] {
        const auto user = User::instance();
        load(ui->lblPicture, user->homeImageUrl(), user->homeImageClickUrl());
    });
}

HomeImage::~HomeImage() = default;

} // namespace Varnel
