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
    const auto engine = OpenConnectConnection::instance();
    connect(engine.get(), &OpenConnectConnection::statsChanged, this, &StatsIndicator::onStatsChanged,
            Qt::QueuedConnection);
    // A new tunnel starts from zero: the last session's totals would stand
    // until its first statistics arrive, seconds later. Queued like the
    // statistics, so a late figure of the old tunnel cannot come after it.
    connect(engine.get(), &OpenConnectConnection::statusChanged, this,
            [this](OpenConnectConnection::Status status) {
                // Not a statistics update: the round trip waits for the tunnel.
                if (status == OpenConnectConnection::Connecting) {
                    ui->lblDownload->setText(formatBytes(0));
                    ui->lblUpload->setText(formatBytes(0));
                }
            },
            Qt::QueuedConnection);
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
