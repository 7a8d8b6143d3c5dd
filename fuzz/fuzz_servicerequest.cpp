// The privileged service's reading of its clients: bytes of a stream cut
// into frames as the control socket does, each frame read as a request.
// Whatever comes in, the buffer stays bounded, every refusal can be sent,
// and what is accepted holds only values the service can act on.

#include "fuzzsupport.h"

#include "common/serviceprotocol.h"
#include "service/request.h"

#include <algorithm>

using namespace Varnel;
using namespace Varnel::Service;

namespace {

void checkPrefix(const Prefix &prefix)
{
    VarnelFuzz::check(prefix.length >= 0 && prefix.length <= (prefix.address.isV4() ? 32 : 128),
                      "a prefix longer than its address");
    const auto again = parsePrefix(prefix.text());
    VarnelFuzz::check(again && again->address == prefix.address && again->length == prefix.length,
                      "a prefix that does not read back as itself");
}

void checkAddress(const Address &address)
{
    const auto again = parseAddress(address.text());
    VarnelFuzz::check(again && *again == address, "an address that does not read back as itself");
}

void checkRequest(const std::string &payload)
{
    ServiceProtocol::Message message;
    const ServiceProtocol::ParseError parsed = ServiceProtocol::parse(payload, &message);
    if (parsed == ServiceProtocol::ParseError::None)
        VarnelFuzz::check(ServiceProtocol::serialize(message) == payload, "a message that does not write back as read");

    const auto request = readRequest(payload);
    if (const auto *refusal = std::get_if<Refusal>(&request)) {
        VarnelFuzz::check(!ServiceProtocol::frame(refusal->reply()).empty(), "a refusal that cannot be sent");
        static const char *const codes[] = {"malformed", "version", "invalid"};
        VarnelFuzz::check(std::find(std::begin(codes), std::end(codes), refusal->code) != std::end(codes),
                          "a refusal code the reader does not give");
        VarnelFuzz::check(refusal->code == "invalid" || refusal->field.empty(), "a field named outside 'invalid'");
        return;
    }
    VarnelFuzz::check(parsed == ServiceProtocol::ParseError::None, "a request accepted from a broken message");
    const Request &accepted = std::get<Request>(request);
    if (const auto *open = std::get_if<OpenRequest>(&accepted)) {
        checkAddress(open->endpoint);
        VarnelFuzz::check(open->port != 0, "port 0 accepted");
    } else if (const auto *settings = std::get_if<TunnelSettings>(&accepted)) {
        VarnelFuzz::check(isServiceDeviceName(settings->device), "a device the service did not name");
        VarnelFuzz::check(settings->routes.size() + settings->excludes.size() <= kMaxRoutes, "too many routes");
        VarnelFuzz::check(settings->dns.size() <= kMaxDns, "too many DNS servers");
        VarnelFuzz::check(settings->mtu == 0 || (settings->mtu >= kMinMtu && settings->mtu <= kMaxMtu),
                          "an MTU out of range");
        for (const auto *list : {&settings->routes, &settings->excludes}) {
            for (const Prefix &prefix : *list)
                checkPrefix(prefix);
        }
        for (const auto &address : {settings->address4, settings->address6}) {
            if (address)
                checkPrefix(*address);
        }
        VarnelFuzz::check(!settings->address4 || settings->address4->address.isV4(), "an IPv6 address4");
        VarnelFuzz::check(!settings->address6 || settings->address6->address.isV6(), "an IPv4 address6");
        for (const Address &server : settings->dns)
            checkAddress(server);
    } else if (const auto *close = std::get_if<CloseRequest>(&accepted)) {
        VarnelFuzz::check(close->device.empty() || isServiceDeviceName(close->device),
                          "a device the service did not name");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    VarnelFuzz::Input input(data, size);
    // How the bytes arrive: in pieces of one size, as reads of the socket.
    const std::size_t piece = 1 + std::size_t(input.byte()) * 257;
    const QByteArray stream = input.rest();
    ServiceProtocol::FrameReader reader;
    std::size_t at = 0;
    while (at < std::size_t(stream.size())) {
        // The server never reads more than one frame's worth ahead.
        const std::size_t room = ServiceProtocol::kPrefixSize + ServiceProtocol::kMaxPayload - reader.buffered();
        VarnelFuzz::check(room > 0, "a full buffer without a whole frame");
        const std::size_t n = std::min({piece, room, std::size_t(stream.size()) - at});
        reader.feed(stream.constData() + at, n);
        at += n;
        std::string payload;
        for (;;) {
            const auto status = reader.next(&payload);
            if (status == ServiceProtocol::FrameReader::Status::Invalid)
                return 0;
            if (status == ServiceProtocol::FrameReader::Status::NeedMore)
                break;
            VarnelFuzz::check(!payload.empty() && payload.size() <= ServiceProtocol::kMaxPayload,
                              "a frame out of bounds");
            checkRequest(payload);
        }
    }
    return 0;
}
