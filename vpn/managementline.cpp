#include "vpn/managementline.h"

#include <QStringList>

namespace Varnel {

namespace {

// A part that is not a number counts as 0, and so does a negative one (it
// would show as some 16 EB once taken as a count).
qint64 byteCount(const QString &text)
{
    const qint64 count = text.toLongLong();
    return count > 0 ? count : 0;
}

} // namespace

ManagementLine ManagementLine::parse(const QString &line)
{
    ManagementLine result;
    if (line == QLatin1String(">PASSWORD:Need 'Auth' username/password")) {
        result.kind = PasswordRequest;
    } else if (line.startsWith(QLatin1String(">PASSWORD:Verification Failed:"))) {
        result.kind = VerificationFailed;
    } else if (line.startsWith(QLatin1String(">STATE:"))) {
        if (line.contains(QLatin1String(",CONNECTED,SUCCESS,")))
            result.kind = StateConnected;
        else if (line.contains(QLatin1String(",RECONNECTING,")) || line.contains(QLatin1String(",CONNECTING,")))
            result.kind = StateConnecting;
    } else if (line.startsWith(QLatin1String(">BYTECOUNT:"))) {
        const QStringList halves = line.split(QLatin1Char(':'));
        if (halves.size() == 2) {
            const QStringList counts = halves.at(1).split(QLatin1Char(','));
            if (counts.size() == 2) {
                result.kind = ByteCount;
                result.down = byteCount(counts.at(0));
                result.up = byteCount(counts.at(1));
            }
        }
    }
    return result;
}

QString quoteManagementArgument(const QString &value)
{
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

bool isSendableCredential(const QString &value)
{
    for (const QChar c : value) {
        if (c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

} // namespace Varnel
