#pragma once

#include "accountstore.h"
#include "apihandlers.h"
#include "controlhandlers.h"
#include "faultinjector.h"
#include "options.h"
#include "pictures.h"
#include "requestlog.h"
#include "webpages.h"

#include <httplib.h>

#include <memory>

namespace Varnel::RefBackend {

// The reference backend on 127.0.0.1 (or the address of --host): the remote data document, every operation, the web pages
// and pictures, and the test controls. Every request outside the controls is counted and may be
// made to misbehave.
class RefServer
{
public:
    RefServer(const ServerOptions &options, const DataSet &data);
    ~RefServer();

    bool isValid() const;       // false when the certificate or key could not be loaded
    // Binds and sets up the routes; returns the port, or -1.
    int bind();
    QString baseUrl() const { return baseUrl_; }
    int serverCount() const;
    // Serves until stop(); false when listening failed.
    bool serve();
    void stop();

private:
    using Handler = httplib::Server::Handler;

    // Counts the request and applies a pending fault; true when the fault has answered it.
    bool misbehave(const httplib::Request &request, httplib::Response &response);
    Handler watched(Handler handler);
    void addRoutes();

    const ServerOptions options_;
    const Catalogue catalogue_;
    std::unique_ptr<httplib::Server> http_;
    AccountStore store_;
    RequestLog log_;
    FaultInjector faults_;
    const Pictures pictures_;
    WebPages pages_;
    ControlHandlers controls_;
    std::unique_ptr<ApiHandlers> api_;
    QString baseUrl_;
};

} // namespace Varnel::RefBackend
