#include "widgets/statsindicator/statsindicator.h"
#include "ui_statsindicator.h"

#include "backend/user.h"
#include "common/gui/iconcache.h"
#include "vpn/openconnectconnection.h"
#include "vpn/trafficformat.h"

#include <QLabel>
#include <QTimer>

namespace Varnel {

namespace {

// Process-wide: the round trip is measured once per program run, however
// many panels or connections there are.
bool pingPending = true;

constexpr QSize kIcon(20, 20);

} // namespace

StatsIndicator::StatsIndicator(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::StatsIndicator>())
{
    ui->setupUi(this);
    // The form's pictures, drawn at the height they are shown.
    showPicture(ui->lblDownloadIcon, QStringLiteral(":/img/greenDownload.png"), kIcon);
    showPicture(ui->lblUploadIcon, QStringLiteral(":/img/greenUpload.png"), kIcon);
    showPicture(ui->lblPingIcon, QStringLiteral(":/img/greenPing.png"), kIcon);
    // Queued: the OpenConnect session reports from its pool thread.
    connect(OpenConnectConnection::instance().get(), &OpenConnectConnection::statsChanged, this,
            &StatsIndicator::onStatsChanged, Qt::QueuedConnection);
}

StatsIndicator::~StatsIndicator() = default;

void StatsIndicator::onStatsChanged(quint64 tx, quint64 rx)
{
    ui->lblDownload->setText(formatBytes(rx));
    ui->lblUpload->setText(formatBytes(tx));
    if (pingPending) {
        pingPending = false;
        QTimer::singleShot(0, this, &StatsIndicator::oneTime);
    }
}

void StatsIndicator::oneTime()
{
    const auto bundle = User::instance()->activeBundle();
    const QString host = bundle ? bundle->ip().section(QLatin1Char(':'), 0, 0) : QString();
    ui->lblPing->setText(measureRoundTrip(host));
}

} // namespace Varnel
