#include "vpn/openvpnfilter.h"

#include <QList>
#include <QRegularExpression>

#include <cstring>

namespace Varnel {

namespace {

// How a directive's arguments are checked.
enum class Arguments {
    Any,          // values only (hosts, numbers, cipher names, flags)
    None,         // takes none
    InlineOnly,   // certificates and keys: only as an inline <tag> block, never a file name
    Device,       // tun or tap, optionally numbered
    DeviceType,   // tun or tap
};

struct Allowed {
    const char *name;
    Arguments arguments;
};

// What a provider's client profile needs, and nothing that names a program,
// a library or a file to read or write.
const Allowed kAllowed[] = {
    // role and connection
    {"client", Arguments::None},
    {"tls-client", Arguments::None},
    {"pull", Arguments::None},
    {"nobind", Arguments::None},
    {"float", Arguments::None},
    {"remote", Arguments::Any},
    {"remote-random", Arguments::None},
    {"remote-random-hostname", Arguments::None},
    {"proto", Arguments::Any},
    {"port", Arguments::Any},
    {"rport", Arguments::Any},
    {"resolv-retry", Arguments::Any},
    {"connect-retry", Arguments::Any},
    {"connect-retry-max", Arguments::Any},
    {"connect-timeout", Arguments::Any},
    {"server-poll-timeout", Arguments::Any},
    {"explicit-exit-notify", Arguments::Any},
    {"dev", Arguments::Device},
    {"dev-type", Arguments::DeviceType},
    {"persist-key", Arguments::None},
    {"persist-tun", Arguments::None},
    {"auth-user-pass", Arguments::None},   // answered over the management channel; never a file
    {"auth-nocache", Arguments::None},
    {"push-peer-info", Arguments::None},
    // ciphers and TLS
    {"cipher", Arguments::Any},
    {"data-ciphers", Arguments::Any},
    {"data-ciphers-fallback", Arguments::Any},
    {"ncp-ciphers", Arguments::Any},
    {"ncp-disable", Arguments::None},
    {"auth", Arguments::Any},
    {"tls-cipher", Arguments::Any},
    {"tls-ciphersuites", Arguments::Any},
    {"tls-version-min", Arguments::Any},
    {"tls-version-max", Arguments::Any},
    {"tls-groups", Arguments::Any},
    {"ecdh-curve", Arguments::Any},
    {"key-direction", Arguments::Any},
    {"remote-cert-tls", Arguments::Any},
    {"remote-cert-ku", Arguments::Any},
    {"remote-cert-eku", Arguments::Any},
    {"ns-cert-type", Arguments::Any},
    {"verify-x509-name", Arguments::Any},
    {"peer-fingerprint", Arguments::Any},
    {"tls-timeout", Arguments::Any},
    {"tls-exit", Arguments::None},
    {"hand-window", Arguments::Any},
    {"tran-window", Arguments::Any},
    {"reneg-sec", Arguments::Any},
    {"reneg-bytes", Arguments::Any},
    {"reneg-pkts", Arguments::Any},
    {"replay-window", Arguments::Any},
    {"mute-replay-warnings", Arguments::None},
    // certificates and keys, inline only
    {"ca", Arguments::InlineOnly},
    {"cert", Arguments::InlineOnly},
    {"key", Arguments::InlineOnly},
    {"extra-certs", Arguments::InlineOnly},
    {"pkcs12", Arguments::InlineOnly},
    {"crl-verify", Arguments::InlineOnly},
    {"tls-auth", Arguments::InlineOnly},
    {"tls-crypt", Arguments::InlineOnly},
    {"tls-crypt-v2", Arguments::InlineOnly},
    // compression
    {"comp-lzo", Arguments::Any},
    {"compress", Arguments::Any},
    {"allow-compression", Arguments::Any},
    {"comp-noadapt", Arguments::None},
    // timers
    {"keepalive", Arguments::Any},
    {"ping", Arguments::Any},
    {"ping-restart", Arguments::Any},
    {"ping-exit", Arguments::Any},
    {"ping-timer-rem", Arguments::None},
    {"inactive", Arguments::Any},
    // packet sizes and buffers
    {"tun-mtu", Arguments::Any},
    {"tun-mtu-extra", Arguments::Any},
    {"link-mtu", Arguments::Any},
    {"mssfix", Arguments::Any},
    {"fragment", Arguments::Any},
    {"mtu-disc", Arguments::Any},
    {"sndbuf", Arguments::Any},
    {"rcvbuf", Arguments::Any},
    {"txqueuelen", Arguments::Any},
    {"fast-io", Arguments::None},
    // routes and what the server may push
    {"route", Arguments::Any},
    {"route-metric", Arguments::Any},
    {"route-delay", Arguments::Any},
    {"route-nopull", Arguments::None},
    {"redirect-gateway", Arguments::Any},
    {"block-ipv6", Arguments::None},
    {"dhcp-option", Arguments::Any},
    {"pull-filter", Arguments::Any},
    // log detail (our command line sets the verbosity after the file)
    {"verb", Arguments::Any},
    {"mute", Arguments::Any},
};

const Allowed *allowed(const QByteArray &name)
{
    for (const Allowed &entry : kAllowed) {
        if (name == entry.name)
            return &entry;
    }
    return nullptr;
}

// isspace() of the C locale, which OpenVPN's reader uses; the end of the
// line counts as a blank.
bool blank(char c)
{
    return c == '\0' || c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// OpenVPN keeps at most 15 words of a line and 255 bytes of a word.
constexpr int kMaxWords = 15;
constexpr int kMaxWordLength = 255;

// Splits a line into words as OpenVPN does: blanks separate, "..." and
// '...' quote, a backslash escapes a backslash, a double quote or a blank
// (anything else after it is an error), and a word that starts with # or ;
// begins a comment. False when OpenVPN would refuse the line.
bool splitWords(const QByteArray &line, QList<QByteArray> &words)
{
    enum State { Between, Plain, Quoted, SingleQuoted };
    State state = Between;
    bool backslash = false;
    QByteArray word;
    for (int i = 0; i <= line.size(); ++i) {
        const char in = i < line.size() ? line.at(i) : '\0';
        char out = 0;
        if (!backslash && in == '\\' && state != SingleQuoted) {
            backslash = true;
            continue;
        }
        bool done = false;
        switch (state) {
        case Between:
            if (!blank(in)) {
                if (in == '#' || in == ';')
                    return true;
                if (!backslash && in == '"') {
                    state = Quoted;
                } else if (!backslash && in == '\'') {
                    state = SingleQuoted;
                } else {
                    out = in;
                    state = Plain;
                }
            }
            break;
        case Plain:
            if (!backslash && blank(in))
                done = true;
            else
                out = in;
            break;
        case Quoted:
            if (!backslash && in == '"')
                done = true;
            else
                out = in;
            break;
        case SingleQuoted:
            if (in == '\'')
                done = true;
            else
                out = in;
            break;
        }
        if (done) {
            words << word;
            word.clear();
            state = Between;
        }
        if (backslash && out && !(out == '\\' || out == '"' || blank(out)))
            return false;
        backslash = false;
        if (out) {
            if (word.size() >= kMaxWordLength)
                return false;
            word += out;
        }
        if (words.size() >= kMaxWords)
            return true;
    }
    // A word still open at the end (its end escaped) is an error to OpenVPN
    // too ("Residual parse state").
    return state == Between;
}

bool hasControlCharacter(const QByteArray &line)
{
    for (const char c : line) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t' && c != '\r') || u == 0x7f)
            return true;
    }
    return false;
}

// "<tag>" alone on its line opens an inline block.
bool inlineTag(const QList<QByteArray> &words, QByteArray &tag)
{
    if (words.size() != 1)
        return false;
    const QByteArray &word = words.first();
    if (word.size() < 2 || !word.startsWith('<') || !word.endsWith('>'))
        return false;
    tag = word.mid(1, word.size() - 2);
    return true;
}

// The block ends at the first line that starts, after blanks, with </tag>.
bool closesBlock(const QByteArray &line, const QByteArray &closeTag)
{
    int start = 0;
    while (start < line.size() && blank(line.at(start)))
        ++start;
    return std::strncmp(line.constData() + start, closeTag.constData(), size_t(closeTag.size())) == 0;
}

bool argumentsAllowed(const Allowed &entry, const QList<QByteArray> &words, QString &why)
{
    // \z: "$" would let a word end in a line feed.
    static const QRegularExpression kDevice(QStringLiteral("\\A(tun|tap)[0-9]*\\z"));
    const QList<QByteArray> arguments = words.mid(1);
    switch (entry.arguments) {
    case Arguments::Any:
        return true;
    case Arguments::None:
        if (arguments.isEmpty())
            return true;
        why = QStringLiteral("takes no argument here (a file name would be read)");
        return false;
    case Arguments::InlineOnly:
        why = QStringLiteral("only allowed as an inline block, not as a file to read");
        return false;
    case Arguments::Device:
        if (arguments.size() == 1 && kDevice.match(QString::fromLatin1(arguments.first())).hasMatch())
            return true;
        why = QStringLiteral("only tun or tap devices");
        return false;
    case Arguments::DeviceType:
        if (arguments.size() == 1 && (arguments.first() == "tun" || arguments.first() == "tap"))
            return true;
        why = QStringLiteral("only tun or tap");
        return false;
    }
    return false;
}

OpenVpnConfigVerdict refuse(int line, const QByteArray &directive, const QString &reason)
{
    OpenVpnConfigVerdict verdict;
    verdict.accepted = false;
    verdict.line = line;
    verdict.directive = QString::fromLatin1(directive);
    verdict.reason = reason;
    return verdict;
}

} // namespace

OpenVpnConfigVerdict checkOpenVpnConfig(const QByteArray &config)
{
    QList<QByteArray> lines = config.split('\n');
    // A byte-order mark before the first line is skipped, as OpenVPN does.
    if (!lines.isEmpty() && lines.first().startsWith("\xEF\xBB\xBF"))
        lines.first().remove(0, 3);

    QByteArray closeTag;   // non-empty inside an inline block
    int blockStart = 0;
    for (int index = 0; index < lines.size(); ++index) {
        const QByteArray &line = lines.at(index);
        const int number = index + 1;
        if (line.size() > kMaxOpenVpnLineLength)
            return refuse(number, QByteArray(), QStringLiteral("line longer than %1 characters").arg(kMaxOpenVpnLineLength));
        if (hasControlCharacter(line))
            return refuse(number, QByteArray(), QStringLiteral("control character"));

        if (!closeTag.isEmpty()) {
            if (closesBlock(line, closeTag))
                closeTag.clear();
            continue;
        }

        // With its line feed, as OpenVPN reads it: a backslash at the end of
        // the line escapes that, and the last word keeps it.
        QList<QByteArray> words;
        if (!splitWords(index + 1 < lines.size() ? line + '\n' : line, words))
            return refuse(number, QByteArray(), QStringLiteral("unreadable line (quotes or backslashes)"));
        if (words.isEmpty())
            continue;
        if (words.first().startsWith("--"))
            words.first().remove(0, 2);

        QByteArray tag;
        if (inlineTag(words, tag)) {
            const Allowed *entry = allowed(tag);
            if (!entry || entry->arguments != Arguments::InlineOnly)
                return refuse(number, words.first(), QStringLiteral("inline block not allowed"));
            closeTag = "</" + tag + '>';
            blockStart = number;
            continue;
        }

        const Allowed *entry = allowed(words.first());
        if (!entry)
            return refuse(number, words.first(), QStringLiteral("directive not allowed"));
        QString why;
        if (!argumentsAllowed(*entry, words, why))
            return refuse(number, words.first(), why);
    }
    if (!closeTag.isEmpty())
        return refuse(blockStart, closeTag.mid(2, closeTag.size() - 3), QStringLiteral("inline block without its end"));
    return {};
}

} // namespace Varnel
