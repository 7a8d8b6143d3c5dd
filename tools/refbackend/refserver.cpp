#include "refserver.h"

#include "connectiondrop.h"
#include "formdata.h"
#include "replies.h"
#include "routes.h"

#include <chrono>
#include <thread>

namespace Varnel::RefBackend {

namespace {

using httplib::Request;
using httplib::Response;

std::unique_ptr<httplib::Server> makeServer(const ServerOptions &options)
{
    if (options.plain)
        return std::make_unique<httplib::Server>();
    return std::make_unique<httplib::SSLServer>(options.certFile.toLocal8Bit().constData(),
                                                options.keyFile.toLocal8Bit().constData());
}

} // namespace

RefServer::RefServer(const ServerOptions &options, const DataSet &data)
    : options_(options)
    , catalogue_(data.catalogue)
    , http_(makeServer(options))
    , store_(data)
    , pages_(store_, catalogue_)
    , controls_(log_, faults_, store_)
{
    faults_.set(options.faultPath, options.fault);
}

RefServer::~RefServer() = default;

bool RefServer::isValid() const
{
    return http_->is_valid();
}

int RefServer::serverCount() const
{
    return api_ ? api_->serverCount() : 0;
}

int RefServer::bind()
{
    const std::string host = options_.host.toStdString();
    const int port = options_.port == 0 ? http_->bind_to_any_port(host)
                                        : (http_->bind_to_port(host, options_.port) ? options_.port : -1);
    if (port <= 0)
        return -1;
    baseUrl_ = QStringLiteral("%1://%2:%3")
                   .arg(options_.plain ? QStringLiteral("http") : QStringLiteral("https"),
                        options_.host)
                   .arg(port);
    // The documents and replies carry this server's own address, known only now.
    api_ = std::make_unique<ApiHandlers>(store_, catalogue_, baseUrl_);
    addRoutes();
    return port;
}

bool RefServer::serve()
{
    return http_->listen_after_bind();
}

void RefServer::stop()
{
    http_->stop();
}

bool RefServer::misbehave(const Request &request, Response &response)
{
    log_.record(request);
    const std::optional<Fault> fault = faults_.take(fromStd(request.path));
    if (!fault)
        return false;
    if (fault->delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(fault->delayMs));
    switch (fault->mode) {
    case Fault::Mode::None:
        return false;
    case Fault::Mode::Status500:
        sendText(response, 500, QByteArrayLiteral("Internal Server Error\n"), "text/plain");
        return true;
    case Fault::Mode::NotJson:
        sendText(response, 200,
                 QByteArrayLiteral("<html><body><h1>Service temporarily unavailable</h1>"
                                   "<p>Maintenance in progress.</p></body></html>\n"),
                 "text/html");
        return true;
    case Fault::Mode::Close:
        // httplib's attempt to answer then fails on the shut socket and it closes the connection.
        dropConnection(request);
        return true;
    }
    return false;
}

RefServer::Handler RefServer::watched(Handler handler)
{
    // Runs inside the route, after httplib has read the body: a request answered before that
    // would leave its body on a kept-alive connection.
    return [this, handler](const Request &request, Response &response) {
        if (!misbehave(request, response))
            handler(request, response);
    };
}

void RefServer::addRoutes()
{
    // Controls first: httplib takes the first matching pattern and the catch-all comes last.
    const std::string control = Routes::kControlPrefix;
    http_->Get(control + "counts", [this](const Request &q, Response &r) { controls_.counts(q, r); });
    http_->Get(control + "last", [this](const Request &q, Response &r) { controls_.last(q, r); });
    http_->Get(control + "account", [this](const Request &q, Response &r) { controls_.account(q, r); });
    http_->Post(control + "fault", [this](const Request &q, Response &r) { controls_.fault(q, r); });
    http_->Post(control + "reset", [this](const Request &q, Response &r) { controls_.reset(q, r); });

    ApiHandlers *api = api_.get();
    const auto operation = [this, api](auto method) {
        return watched([api, method](const Request &q, Response &r) { (api->*method)(q, r); });
    };
    http_->Get(Routes::kRemoteData, operation(&ApiHandlers::remoteData));
    http_->Get(Routes::kFirestoreDocument, operation(&ApiHandlers::remoteData));
    http_->Post(Routes::kLogin, operation(&ApiHandlers::login));
    http_->Post(Routes::kSignUp, operation(&ApiHandlers::signUp));
    http_->Post(Routes::kForgotPassword, operation(&ApiHandlers::forgotPassword));
    http_->Post(Routes::kSubscribe, operation(&ApiHandlers::subscribe));
    http_->Post(Routes::kRedeemVoucher, operation(&ApiHandlers::redeemVoucher));
    http_->Post(Routes::kReferInfo, operation(&ApiHandlers::referInfo));
    http_->Post(Routes::kRefer, operation(&ApiHandlers::refer));
    http_->Post(Routes::kLoggedDevices, operation(&ApiHandlers::loggedDevices));

    const auto page = [this](std::function<WebPages::Page(const Request &)> render) {
        return watched([render](const Request &q, Response &r) {
            const WebPages::Page page = render(q);
            sendText(r, page.status, page.html, "text/html; charset=utf-8");
        });
    };
    http_->Get(std::string(WebPages::kCheckoutPrefix) + "([^/]+)", page([this](const Request &q) {
        return pages_.checkout(fromStd(q.matches[1]), queryItem(q, "authToken"));
    }));
    http_->Get(WebPages::kFeaturesPath,
               page([this](const Request &q) { return pages_.features(queryItem(q, "authToken")); }));
    http_->Get(WebPages::kOfferPath, page([this](const Request &q) { return pages_.offer(queryItem(q, "authToken")); }));
    http_->Get(WebPages::kPricingPath, page([this](const Request &) { return pages_.pricing(); }));

    const auto picture = [this](const QByteArray &png) {
        return watched([png](const Request &, Response &r) { sendText(r, 200, png, "image/png"); });
    };
    http_->Get(WebPages::kFeaturesImagePath, picture(pictures_.features()));
    http_->Get(WebPages::kBannerImagePath, picture(pictures_.banner()));

    // "?bytes=N" asks for another size (up to 64 MiB), e.g. a body larger than a client accepts.
    http_->Get(WebPages::kDownloadProbePath, watched([](const Request &q, Response &r) {
        bool ok = false;
        const int asked = queryItem(q, "bytes").toInt(&ok);
        const int bytes = ok && asked >= 0 ? qMin(asked, 64 * 1024 * 1024) : WebPages::kDownloadProbeBytes;
        sendText(r, 200, QByteArray(bytes, 'v'), "application/octet-stream");
    }));
    http_->Post(WebPages::kUploadProbePath, watched([](const Request &q, Response &r) {
        sendText(r, 200, QByteArray::number(qulonglong(q.body.size())) + '\n', "text/plain");
    }));

    // Unknown paths are counted too, so a test sees a client asking for the wrong address.
    const Handler notFound = watched([](const Request &, Response &r) {
        sendText(r, 404, QByteArrayLiteral("Not Found\n"), "text/plain");
    });
    http_->Get(".*", notFound);
    http_->Post(".*", notFound);
}

} // namespace Varnel::RefBackend
