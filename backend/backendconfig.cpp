#include "backend/backendconfig.h"

#include "common/logger.h"

#include <QObject>
#include <QSslCertificate>

namespace Varnel {
namespace BackendConfig {

namespace {

const char kDefaultApiBase[] = "https://api.varnelvpn.com";
const char kDefaultFirestoreBase[] = "https://firestore.googleapis.com";
const char kDataPath[] = "/api/getWindowsData.php";
const char kFirestoreDocumentPath[] =
    "/v1/projects/varnelvpn-app/databases/(default)/documents/data/windows";
constexpr int kDefaultTimeoutMs = 30000;

QString environment(const char *name)
{
    return qEnvironmentVariable(name).trimmed();
}

QString withoutTrailingSlash(QString url)
{
    while (url.endsWith(QLatin1Char('/')))
        url.chop(1);
    return url;
}

} // namespace

QString apiBaseUrl()
{
    const QString base = environment("VARNELVPN_API_BASE");
    return withoutTrailingSlash(base.isEmpty() ? QString::fromLatin1(kDefaultApiBase) : base);
}

QString dataEndpointUrl()
{
    return apiBaseUrl() + QLatin1String(kDataPath);
}

QString firestoreDocumentUrl()
{
    const QString base = environment("VARNELVPN_API_BASE").isEmpty()
        ? QString::fromLatin1(kDefaultFirestoreBase) : apiBaseUrl();
    return base + QLatin1String(kFirestoreDocumentPath);
}

QString extraCaFile()
{
    return environment("VARNELVPN_CA_FILE");
}

int httpTimeoutMs()
{
    bool ok = false;
    const int ms = environment("VARNELVPN_HTTP_TIMEOUT_MS").toInt(&ok);
    return ok && ms > 0 ? ms : kDefaultTimeoutMs;
}

QSslConfiguration sslConfiguration()
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    const QString caFile = extraCaFile();
    if (caFile.isEmpty())
        return config;   // the system store, loaded on demand by the TLS backend

    const QList<QSslCertificate> extra = QSslCertificate::fromPath(caFile, QSsl::Pem);
    if (extra.isEmpty())
        Logger::instance().log(QObject::tr("No CA certificate read from %1").arg(caFile), 1, 4);
    // Setting an explicit list switches off on-demand loading, so the system
    // store is listed too. It does not change while the program runs.
    static const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
    config.setCaCertificates(system + extra);
    return config;
}

QNetworkRequest boundedRequest(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setSslConfiguration(sslConfiguration());
    request.setTransferTimeout(httpTimeoutMs());
    return request;
}

} // namespace BackendConfig
} // namespace Varnel
