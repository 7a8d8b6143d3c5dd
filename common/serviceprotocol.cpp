#include "common/serviceprotocol.h"

#include <cstdlib>

namespace Varnel::ServiceProtocol {

namespace {

bool isKeyChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

bool validKey(std::string_view key)
{
    if (key.empty() || key.size() > kMaxKey)
        return false;
    for (char c : key) {
        if (!isKeyChar(c))
            return false;
    }
    return true;
}

// Printable ASCII; blanks inside a value (a message text) but not at its
// ends, so that what is read back is what was sent.
bool validValue(std::string_view value)
{
    if (value.empty() || value.size() > kMaxValue || value.front() == ' ' || value.back() == ' ')
        return false;
    for (char c : value) {
        if (c < 0x20 || c > 0x7e)
            return false;
    }
    return true;
}

std::string versionTag()
{
    return "v" + std::to_string(kVersion);
}

} // namespace

std::string Message::value(std::string_view key) const
{
    for (const auto &field : fields) {
        if (field.first == key)
            return field.second;
    }
    return {};
}

std::vector<std::string> Message::values(std::string_view key) const
{
    std::vector<std::string> found;
    for (const auto &field : fields) {
        if (field.first == key)
            found.push_back(field.second);
    }
    return found;
}

std::size_t Message::count(std::string_view key) const
{
    std::size_t n = 0;
    for (const auto &field : fields) {
        if (field.first == key)
            ++n;
    }
    return n;
}

ParseError parse(std::string_view payload, Message *message)
{
    *message = Message();
    if (payload.empty() || payload.size() > kMaxPayload || payload.back() != '\n')
        return ParseError::Malformed;
    std::size_t start = 0;
    bool first = true;
    while (start < payload.size()) {
        const std::size_t end = payload.find('\n', start);
        const std::string_view line = payload.substr(start, end - start);
        start = end + 1;
        const std::size_t blank = line.find(' ');
        if (blank == std::string_view::npos)
            return ParseError::Malformed;
        const std::string_view key = line.substr(0, blank);
        const std::string_view value = line.substr(blank + 1);
        if (first) {
            // "v<N> <verb>": the version is read before anything else, so
            // that a newer peer is told so rather than "malformed".
            if (key.size() < 2 || key.front() != 'v')
                return ParseError::Malformed;
            if (key != versionTag())
                return ParseError::Version;
            if (!validKey(value))
                return ParseError::Malformed;
            message->verb = std::string(value);
            first = false;
            continue;
        }
        if (!validKey(key) || !validValue(value) || message->fields.size() >= kMaxFields)
            return ParseError::Malformed;
        message->fields.emplace_back(std::string(key), std::string(value));
    }
    return ParseError::None;
}

std::string serialize(const Message &message)
{
    if (!validKey(message.verb))
        return {};
    std::string out = versionTag() + ' ' + message.verb + '\n';
    for (const auto &field : message.fields) {
        if (!validKey(field.first) || !validValue(field.second))
            return {};
        out += field.first;
        out += ' ';
        out += field.second;
        out += '\n';
    }
    if (message.fields.size() > kMaxFields || out.size() > kMaxPayload)
        return {};
    return out;
}

std::string frame(const Message &message)
{
    const std::string payload = serialize(message);
    if (payload.empty())
        return {};
    const auto size = static_cast<std::uint32_t>(payload.size());
    std::string out;
    out.reserve(kPrefixSize + payload.size());
    out += char((size >> 24) & 0xff);
    out += char((size >> 16) & 0xff);
    out += char((size >> 8) & 0xff);
    out += char(size & 0xff);
    out += payload;
    return out;
}

FrameReader::Status FrameReader::next(std::string *payload)
{
    if (m_buffer.size() < kPrefixSize)
        return Status::NeedMore;
    const auto byte = [this](std::size_t i) { return std::uint32_t(static_cast<unsigned char>(m_buffer[i])); };
    const std::uint32_t size = (byte(0) << 24) | (byte(1) << 16) | (byte(2) << 8) | byte(3);
    if (size == 0 || size > kMaxPayload)
        return Status::Invalid;
    if (m_buffer.size() < kPrefixSize + size)
        return Status::NeedMore;
    payload->assign(m_buffer, kPrefixSize, size);
    m_buffer.erase(0, kPrefixSize + size);
    return Status::Frame;
}

std::string socketPath()
{
    const char *path = std::getenv(kSocketVariable);
    return path && *path ? std::string(path) : std::string(kDefaultSocket);
}

Message ok()
{
    return Message("ok");
}

Message error(std::string_view code, std::string_view text)
{
    Message reply("error");
    reply.add("code", std::string(code));
    if (!text.empty())
        reply.add("message", std::string(text));
    return reply;
}

} // namespace Varnel::ServiceProtocol
