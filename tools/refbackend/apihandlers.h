#pragma once

#include "accountstore.h"
#include "loginreply.h"
#include "serverlist.h"

#include <httplib.h>

namespace Varnel::RefBackend {

// One handler per backend operation: reads the form items and extra headers the client sends,
// asks the store, and answers in the shape (plain or enciphered JSON, status code) the client reads.
class ApiHandlers
{
public:
    ApiHandlers(AccountStore &store, const Catalogue &catalogue, const QString &baseUrl);

    void remoteData(const httplib::Request &request, httplib::Response &response) const;
    void login(const httplib::Request &request, httplib::Response &response);
    void signUp(const httplib::Request &request, httplib::Response &response);
    void forgotPassword(const httplib::Request &request, httplib::Response &response) const;
    void subscribe(const httplib::Request &request, httplib::Response &response);
    void redeemVoucher(const httplib::Request &request, httplib::Response &response);
    void referInfo(const httplib::Request &request, httplib::Response &response) const;
    void refer(const httplib::Request &request, httplib::Response &response);
    void loggedDevices(const httplib::Request &request, httplib::Response &response) const;

    int serverCount() const { return servers_.size(); }

private:
    AccountStore &store_;
    const ServerList servers_;
    const LoginReply loginReply_;
    const QJsonObject remoteDocument_;
};

} // namespace Varnel::RefBackend
