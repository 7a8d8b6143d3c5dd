#include "common/localeinfo.h"

#include <QFile>
#include <QHash>
#include <QLocale>
#include <QTextStream>

namespace Varnel {

namespace {

// Map keys are lower-case names without blanks ("unitedkingdom"); any
// Unicode blank counts, so that a key never holds one.
QString mapKey(const QString &name)
{
    QString key;
    key.reserve(name.size());
    for (const QChar c : name) {
        if (!c.isSpace() && c != QLatin1Char('"'))
            key += c;
    }
    return key.toLower();
}

QHash<QString, int> loadCallingCodes()
{
    QFile file(QStringLiteral(":/misc/country_calling_code_map.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return parseCallingCodes(file.readAll());
}

} // namespace

QHash<QString, int> parseCallingCodes(const QByteArray &text)
{
    QHash<QString, int> codes;
    QTextStream stream(text);
    QString line;
    while (stream.readLineInto(&line)) {
        const int comma = line.lastIndexOf(QLatin1Char(','));
        if (comma < 0)
            continue;
        codes.insert(mapKey(line.left(comma)), line.mid(comma + 1).trimmed().toInt());
    }
    return codes;
}

int countryCallingCode(const QTimeZone &zone)
{
    static const QHash<QString, int> codes = loadCallingCodes();
    // The toolkit spells multi-word countries with blanks; the map has none.
    return codes.value(mapKey(QLocale::countryToString(zone.country())), -1);
}

int countryCallingCode()
{
    return countryCallingCode(QDateTime::currentDateTime().timeZone());
}

QString utcOffsetText(const QDateTime &local)
{
    // The same wall-clock reading taken as UTC differs from the real moment
    // by the zone's offset.
    const QDateTime asUtc(local.date(), local.time(), Qt::UTC);
    const QString sign = asUtc < local ? QStringLiteral("-") : QStringLiteral("+");
    const qint64 seconds = qAbs(local.secsTo(asUtc));
    return sign + QTime(0, 0).addSecs(int(seconds)).toString(QStringLiteral("hh:mm"));
}

QString utcOffsetText()
{
    return utcOffsetText(QDateTime::currentDateTime());
}

} // namespace Varnel
