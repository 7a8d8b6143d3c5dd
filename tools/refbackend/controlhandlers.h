#pragma once

#include "accountstore.h"
#include "faultinjector.h"
#include "requestlog.h"

#include <httplib.h>

namespace Varnel::RefBackend {

// The test controls under /_control/: request counts and the last request per path, account
// state, faults, and resets. A fixture calls them between the client's requests.
class ControlHandlers
{
public:
    ControlHandlers(RequestLog &log, FaultInjector &faults, AccountStore &store);

    void counts(const httplib::Request &request, httplib::Response &response) const;
    void last(const httplib::Request &request, httplib::Response &response) const;
    void account(const httplib::Request &request, httplib::Response &response) const;
    void fault(const httplib::Request &request, httplib::Response &response);
    void reset(const httplib::Request &request, httplib::Response &response);

private:
    RequestLog &log_;
    FaultInjector &faults_;
    AccountStore &store_;
};

} // namespace Varnel::RefBackend
