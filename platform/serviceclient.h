#pragma once

#include "common/serviceprotocol.h"

#include <QString>

#include <optional>

namespace Varnel {

// A connection to the privileged service that makes tunnel devices, applies
// their routes and DNS and runs the kill switch (service/README.md). Every
// wait is bounded: the window never hangs on a service that does not answer.
class ServiceClient
{
public:
    // What the user is told when nothing answers at the socket.
    static QString notRunningText();

    ServiceClient() = default;
    ~ServiceClient();
    ServiceClient(const ServiceClient &) = delete;
    ServiceClient &operator=(const ServiceClient &) = delete;

    // Connects to ServiceProtocol::socketPath(). False, with the reason, when
    // no service listens there.
    bool open(QString *error);
    bool isOpen() const { return m_fd >= 0; }
    void close();

    // Sends request and waits for its reply; nothing when the connection
    // failed or the reply did not come within the bound (the connection is
    // then closed, error says why).
    std::optional<ServiceProtocol::Message> request(const ServiceProtocol::Message &request, QString *error);

    // The socket, for watching its end (readable at end of file).
    int descriptor() const { return m_fd; }

    static constexpr int kReplyTimeoutMs = 10000;

private:
    int m_fd = -1;
    ServiceProtocol::FrameReader m_reader;
};

// One request on a connection of its own. A refusal ("v1 error") is a reply
// like any other; only an unreachable or silent service gives nothing.
std::optional<ServiceProtocol::Message> askService(const ServiceProtocol::Message &request, QString *error);

} // namespace Varnel
