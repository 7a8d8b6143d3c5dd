// Login answered from a 5,000-server reply: decipher the body, parse it, keep
// it in the login cache, fill the account record and build the server list,
// as a network login does; then the same from the cache, as an automatic
// login does. The network transfer is left out. Prints each run and medians.

#include "backend/apirequest.h"
#include "backend/logincache.h"
#include "backend/user.h"
#include "common/crypto.h"
#include "servergenerator.h"

#include <QCoreApplication>
#include <QFile>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kServers = 5000;
constexpr int kRuns = 15;

QByteArray enciphered5000ServerReply()
{
    const QJsonObject reply{
        {QStringLiteral("response_code"), 1},
        {QStringLiteral("message"), QStringLiteral("Login successful")},
        {QStringLiteral("user_type"), 2},
        {QStringLiteral("expire_in_days"), 30},
        {QStringLiteral("validity_date"), QStringLiteral("05-Jan-2027")},
        {QStringLiteral("user_status"), QStringLiteral("1")},
        {QStringLiteral("free_minutes"), QStringLiteral("0")},
        {QStringLiteral("ip_bundle"), Varnel::RefBackend::ServerGenerator::generate(kServers, 1)},
    };
    const QString plain = QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Compact));
    return Varnel::encipher(plain, QString::fromLatin1(Varnel::kReplyKey)).toLatin1();
}

// The reply is echoed to the debug output as the client does; the terminal
// is not what is measured here.
void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir work;
    qputenv("XDG_STATE_HOME", QFile::encodeName(work.path()));   // the login cache's folder

    const QByteArray body = enciphered5000ServerReply();
    std::printf("reply: %d servers, %.1f MB enciphered\n", kServers, body.size() / 1e6);

    qInstallMessageHandler(quiet);
    Varnel::ApiRequest api;
    QVector<double> network;
    QVector<double> cached;
    for (int run = 0; run <= kRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        const QByteArray text = Varnel::ApiRequest::decodeReplyText(body);
        const QJsonDocument reply = QJsonDocument::fromJson(text);
        Varnel::LoginCache::writeText(text);
        const int code = api.applyLoginReply(reply);
        const double networkMs = timer.nsecsElapsed() / 1e6;

        timer.restart();
        const QByteArray cachedText = Varnel::LoginCache::readText();
        const int cachedCode = api.applyLoginReply(QJsonDocument::fromJson(cachedText));
        const double cachedMs = timer.nsecsElapsed() / 1e6;

        if (code != 0 || cachedCode != 0 || Varnel::User::instance()->bundles().isEmpty()) {
            std::fprintf(stderr, "login from the reply failed (%d, %d)\n", code, cachedCode);
            return 1;
        }
        if (run > 0) {   // the first run warms caches and allocators
            network.append(networkMs);
            cached.append(cachedMs);
        }
    }
    qInstallMessageHandler(nullptr);

    for (QVector<double> *times : {&network, &cached}) {
        std::sort(times->begin(), times->end());
        std::printf("%s runs (ms):", times == &network ? "network reply" : "cached reply ");
        for (double t : *times)
            std::printf(" %.1f", t);
        std::printf("\n");
    }
    std::printf("servers kept: %d\n", int(Varnel::User::instance()->bundles().size()));
    std::printf("median, reply from the network: %.1f ms\n", network.at(network.size() / 2));
    std::printf("median, reply from the cache:   %.1f ms\n", cached.at(cached.size() / 2));
    return 0;
}
