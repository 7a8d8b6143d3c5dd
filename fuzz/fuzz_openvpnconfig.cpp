// The OpenVPN configuration as the client builds it from the backend: the
// Base64 template with the server's address filled in, then the filter
// that refuses every directive a client profile does not need.

#include "fuzzsupport.h"

#include "vpn/openvpnconfig.h"
#include "vpn/openvpnfilter.h"

using namespace Varnel;

namespace {

// Directives that run programs, load code, or read or write files: a
// plain reading of the accepted text must never find one (a second,
// simpler opinion beside the filter's faithful one).
const char *const kDangerous[] = {
    "plugin", "up", "down", "route-up", "route-pre-down", "ipchange", "tls-verify", "client-connect",
    "client-disconnect", "learn-address", "auth-user-pass-verify", "tls-crypt-v2-verify", "script-security",
    "log", "log-append", "status", "writepid", "cd", "chroot", "daemon", "config", "tmp-dir", "askpass",
    "management", "management-client", "management-hold", "iproute", "engine", "providers",
    "pkcs11-providers", "setenv", "setenv-safe", "replay-persist", "tls-export-cert", "dev-node", "syslog",
    "connection", "secret", "auth-gen-token-secret", "dh", "capath", "ifconfig-pool-persist"};

// A word without its quotes and leading dashes.
QByteArray bare(QByteArray word)
{
    while (word.startsWith('"') || word.startsWith('\'') || word.startsWith('-'))
        word.remove(0, 1);
    while (word.endsWith('"') || word.endsWith('\''))
        word.chop(1);
    return word;
}

bool dangerous(QByteArray word)
{
    if (word.startsWith('<') && word.endsWith('>'))
        word = word.mid(1, word.size() - 2);
    for (const char *name : kDangerous) {
        if (word == name)
            return true;
    }
    return false;
}

// The first word of each line outside inline blocks, read plainly.
void checkPlainReading(const QByteArray &config)
{
    QByteArray closeTag;
    QList<QByteArray> lines = config.split('\n');
    // OpenVPN skips a byte-order mark before the first line.
    if (lines.first().startsWith("\xEF\xBB\xBF"))
        lines.first().remove(0, 3);
    for (const QByteArray &line : qAsConst(lines)) {
        const QByteArray trimmed = line.trimmed();
        if (!closeTag.isEmpty()) {
            if (trimmed.startsWith(closeTag))
                closeTag.clear();
            continue;
        }
        // Words apart at any blank, as OpenVPN takes them; backslashes left
        // out (in a text the filter accepts they only escape blanks, quotes
        // and comment signs, and a comment sign after one still begins a
        // comment, OpenVPN finds).
        const QByteArray words = QByteArray(line).replace('\\', QByteArray()).simplified();
        const QByteArray first = words.split(' ').first();
        const QByteArray word = bare(first);
        VarnelFuzz::check(!dangerous(word), "a dangerous directive accepted");
        // "<tag>" alone, or followed by a comment, opens a block.
        const QByteArray rest = words.mid(first.size()).trimmed();
        if (word.startsWith('<') && word.endsWith('>')
            && (rest.isEmpty() || rest.startsWith('#') || rest.startsWith(';')))
            closeTag = "</" + word.mid(1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    VarnelFuzz::Input input(data, size);
    // The server's address as the backend sends it, then the template's text.
    const QString address = QString::fromUtf8(input.piece());
    const QByteArray templateText = input.rest();
    const QString config = openVpnConfigFromTemplate(QString::fromLatin1(templateText.toBase64()), address);
    const QByteArray written = config.toLocal8Bit();
    const OpenVpnConfigVerdict verdict = checkOpenVpnConfig(written);
    if (!verdict.accepted) {
        VarnelFuzz::check(verdict.line >= 1 && !verdict.reason.isEmpty(), "a refusal without its line or reason");
        return 0;
    }
    // Nothing OpenVPN would read differently gets through: no long line it
    // would split, no control character, no zero byte.
    for (const QByteArray &line : written.split('\n')) {
        VarnelFuzz::check(line.size() <= kMaxOpenVpnLineLength, "a long line accepted");
        for (const char c : line)
            VarnelFuzz::check(static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\r',
                              "a control character accepted");
    }
    checkPlainReading(written);
    return 0;
}
