#pragma once

// The messages between the client and the privileged service
// (service/README.md): length-prefixed frames of short text lines. Plain
// C++ so that the service, the client and the tunnel script share one
// reading of them; nothing here trusts what it reads.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Varnel::ServiceProtocol {

inline constexpr const char *kDefaultSocket = "/run/varnelvpn/control";
// Names another socket for the client and the tunnel script.
inline constexpr const char *kSocketVariable = "VARNELVPN_SERVICE_SOCKET";
// Names the file in which the client leaves the options an OpenVPN server
// pushed, for the tunnel script (OpenVPN tells its scripts nothing of a
// pushed redirect-gateway when it adds no routes itself).
inline constexpr const char *kPushedVariable = "VARNELVPN_PUSHED_OPTIONS";

inline constexpr int kVersion = 1;
// Bounds of one message: the service reads no more before it refuses.
inline constexpr std::size_t kMaxPayload = 65536;
inline constexpr std::size_t kMaxFields = 2048;
inline constexpr std::size_t kMaxKey = 16;
inline constexpr std::size_t kMaxValue = 512;
// The length prefix: four bytes, most significant first.
inline constexpr std::size_t kPrefixSize = 4;

// One request or reply: a verb ("open", "status", ...; "ok" or "error" in
// a reply) and its fields in the order sent. A key may repeat ("route").
struct Message
{
    std::string verb;
    std::vector<std::pair<std::string, std::string>> fields;

    Message() = default;
    explicit Message(std::string v) : verb(std::move(v)) {}

    Message &add(std::string key, std::string value)
    {
        fields.emplace_back(std::move(key), std::move(value));
        return *this;
    }
    // The first value of key, or empty.
    std::string value(std::string_view key) const;
    std::vector<std::string> values(std::string_view key) const;
    std::size_t count(std::string_view key) const;
    bool has(std::string_view key) const { return count(key) > 0; }
};

enum class ParseError {
    None,
    Malformed, // not lines of "key value", a character outside printable ASCII, a bound exceeded
    Version,   // another protocol version than ours
};

// Reads one payload (without its length prefix).
ParseError parse(std::string_view payload, Message *message);

// The payload of message, or empty when it cannot be sent as it is (a key
// or value out of bounds or with a character outside printable ASCII).
std::string serialize(const Message &message);
// serialize() with its length prefix: what goes on the wire.
std::string frame(const Message &message);

// Collects bytes from a stream socket and hands out whole payloads.
class FrameReader
{
public:
    enum class Status {
        NeedMore, // no whole frame yet
        Frame,    // *payload holds one
        Invalid,  // an empty frame or one longer than kMaxPayload: the stream cannot be trusted further
    };

    void feed(const char *data, std::size_t size) { m_buffer.append(data, size); }
    Status next(std::string *payload);
    std::size_t buffered() const { return m_buffer.size(); }

private:
    std::string m_buffer;
};

// Where the client and the tunnel script find the service: the variable
// when set, else the default.
std::string socketPath();

// Replies.
Message ok();
Message error(std::string_view code, std::string_view text);

} // namespace Varnel::ServiceProtocol
