#include "widgets/quickconnect/recommendedserverbutton.h"
#include "ui_recommendedserverbutton.h"

#include "common/gui/iconcache.h"
#include "common/gui/restyle.h"

#include <QPixmap>
#include <QRandomGenerator>

namespace Varnel {

RecommendedServerButton::RecommendedServerButton(const Look &look, QWidget *parent)
    : QuickConnectButton(parent)
    , ui(std::make_unique<Ui::RecommendedServerButton>())
    , m_look(look)
{
    ui->setupUi(this);
    ui->lblTitle->setText(look.title);
    ui->lblText->setText(tr("Recommended"));
    showPicture(look.picture);
    connect(OpenConnectConnection::instance().get(), &OpenConnectConnection::statusChanged, this,
            &RecommendedServerButton::onStatusChanged, Qt::QueuedConnection);
}

RecommendedServerButton::~RecommendedServerButton() = default;

bool RecommendedServerButton::chooseServer() const
{
    const IPBundleList servers = bundlesWith([this](const IPBundle &bundle) { return (bundle.*m_look.feature)(); });
    if (servers.isEmpty())
        return false;
    makeActive(*servers.at(int(QRandomGenerator::global()->bounded(quint32(servers.size())))));
    return true;
}

void RecommendedServerButton::onStatusChanged(OpenConnectConnection::Status status)
{
    const bool connected = status == OpenConnectConnection::Connected;
    restyle(ui->lblTitle, textStyle(connected, 18));
    restyle(ui->lblText, textStyle(connected, 14));
    showPicture(connected ? m_look.connectedPicture : m_look.picture);
    update();
}

void RecommendedServerButton::showPicture(const QString &path)
{
    if (path == m_shownPicture)
        return;
    m_shownPicture = path;
    ui->lblLogo->setPixmap(cachedPicture(path, QSize(40, 40)));
}

GammingServerButton::GammingServerButton(QWidget *parent)
    : RecommendedServerButton({tr("Gaming"), QStringLiteral(":/img/gamming-server.png"),
                               QStringLiteral(":/img/gamming_white.png"), &IPBundle::gamingServer},
                              parent)
{
}

void GammingServerButton::mousePressEvent(QMouseEvent *event)
{
    RecommendedServerButton::mousePressEvent(event);
    if (chooseServer())
        emit GammingServerClicked();
}

StreamingServerButton::StreamingServerButton(QWidget *parent)
    : RecommendedServerButton({tr("Streaming "), QStringLiteral(":/img/streamming-server.png"),
                               QStringLiteral(":/img/streamming_white.png"), &IPBundle::streamingServer},
                              parent)
{
}

void StreamingServerButton::mousePressEvent(QMouseEvent *event)
{
    RecommendedServerButton::mousePressEvent(event);
    // Without a streaming server the press still reconnects to the active one.
    chooseServer();
    emit StreamingServerButtonClicked();
}

} // namespace Varnel
