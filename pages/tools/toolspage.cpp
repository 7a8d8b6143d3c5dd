#include "pages/tools/toolspage.h"
#include "ui_toolspage.h"

#include "backend/backendconfig.h"
#include "backend/user.h"
#include "common/config.h"
#include "common/logger.h"
#include "common/gui/iconcache.h"
#include "common/netinfo.h"
#include "common/weblinks.h"
#include "vpn/trafficformat.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QScrollBar>

#include <functional>

namespace Varnel {

namespace {

constexpr int kScrollBarHeight = 60;
const QByteArray kUploadBody = QByteArrayLiteral("This is the data to upload.");

// Calls done with the reply and the milliseconds since start when it ends;
// a failed reply is only logged (the labels keep their values).
void whenFinished(QNetworkReply *reply, QObject *context, const std::function<void(QNetworkReply *, qint64)> &done)
{
    QElapsedTimer clock;
    clock.start();
    QObject::connect(reply, &QNetworkReply::finished, context, [reply, clock, done] {
        if (reply->error() != QNetworkReply::NoError)
            Logger::instance().log(QStringLiteral("Network test: %1 failed: %2")
                                       .arg(reply->url().host(), reply->errorString()),
                                   1, 4);
        else
            done(reply, qMax<qint64>(1, clock.elapsed()));   // a reply within the same millisecond counts one
        reply->deleteLater();
    });
}

} // namespace

ToolsPage::ToolsPage(QWidget *parent)
    : Page(parent)
    , ui(std::make_unique<Ui::ToolsPage>())
{
    ui->setupUi(this);
    recordWhenShown(LeftPage::Tools);
    ui->scrollArea->verticalScrollBar()->setFixedHeight(kScrollBarHeight);
    // The picture is drawn for the red button: it sits inside it, on the left.
    auto *inside = new QHBoxLayout(ui->btnTest);
    inside->setContentsMargins(14, 0, 0, 0);
    inside->addWidget(ui->lblTestLogo);
    inside->addStretch();
}

ToolsPage::~ToolsPage() = default;

void ToolsPage::reload()
{
    const auto scaled = [](QLabel *label, const char *path, int size) {
        showPicture(label, QLatin1String(path), QSize(size, size));
    };
    scaled(ui->lblVarnelLogo, ":/img/varnel-vpn-logo.png", 56);
    scaled(ui->lblSecurityLogo, ":/img/cross.png", 36);
    scaled(ui->lblIPLogo, ":/img/ip-icons.png", 36);
    scaled(ui->lblDownlordLogo, ":/img/toolsDownload.png", 36);
    scaled(ui->lblUploadLogo, ":/img/toolsupload.png", 36);
    scaled(ui->lblPingLogo, ":/img/toolsping.png", 36);
    scaled(ui->lblTestLogo, ":/img/test.png", 28);
    Config::instance()->save();
}

void ToolsPage::on_btnBack_pressed()
{
    emit clickBack();
}

void ToolsPage::on_btnTest_pressed()
{
    ui->btnTest->setText(tr("Test Your Network..."));
    ui->btnTest->setEnabled(false);
    qDebug() << "toolspage test button clicked";

    const bool connected = Config::instance()->connectionState();
    const auto bundle = User::instance()->activeBundle();
    ui->lblIP->setText(connected && bundle ? bundle->ip().section(QLatin1Char(':'), 0, 0) : localIpv4());

    // Bounded, so the window waits seconds at most.
    const QString output = runPing(WebLinks::pingTarget());
    if (!output.isEmpty())
        qDebug() << "splitData:::::::::::" << output;
    const QString ping = parseTestPing(output);
    if (!ping.isEmpty())
        ui->lblPing->setText(ping);

    measureNetworkSpeed();
    measureUploadSpeed();

    ui->lblrisk->setText(connected ? tr("Secured") : tr("Risk"));
    ui->btnTest->setText(tr("Test Your Network"));
    ui->btnTest->setIcon(QIcon());
    // Ready for another test; replies still under way update the labels as they arrive.
    ui->btnTest->setEnabled(true);
}

QNetworkAccessManager *ToolsPage::network()
{
    // Made at the first test: a network manager is dear to set up, and
    // most runs of the program never test.
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    return m_network;
}

bool ToolsPage::measureNetworkSpeed()
{
    QNetworkReply *reply = network()->get(BackendConfig::boundedRequest(WebLinks::downloadProbe()));
    whenFinished(reply, this, [this](QNetworkReply *done, qint64 ms) {
        const qint64 bytesPerSecond = qint64(done->bytesAvailable() / (double(ms) / 1000.0));
        ui->lblDwnload->setText(formatDecimalBytes(bytesPerSecond, 2));
    });
    return true;
}

void ToolsPage::measureUploadSpeed()
{
    QNetworkReply *reply = network()->post(BackendConfig::boundedRequest(WebLinks::uploadProbe()), kUploadBody);
    whenFinished(reply, this, [this](QNetworkReply *, qint64 ms) {
        const qint64 bitsPerSecond = qint64(kUploadBody.size() * 8 / (double(ms) / 1000.0));
        qDebug() << "upload speed:::" << bitsPerSecond;
        ui->lblUpload->setText(formatDecimalBytes(bitsPerSecond, 2));
    });
}

} // namespace Varnel
