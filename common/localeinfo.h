#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QTimeZone>

namespace Varnel {

// Telephone calling code of the country of the system's time zone, -1 when
// the country is unknown or not in the map.
int countryCallingCode();
int countryCallingCode(const QTimeZone &zone);

// The calling-code map's text ("Country name,code" a line) as a table from
// the lower-case name without blanks or quotes to the code. A line without
// a comma is skipped, a code that is no number counts as 0, later lines win.
QHash<QString, int> parseCallingCodes(const QByteArray &text);

// Local UTC offset as sign + "hh:mm", e.g. "-05:00", "+05:30", "+00:00".
QString utcOffsetText();
// The same for the given moment, taken in its own time zone.
QString utcOffsetText(const QDateTime &local);

} // namespace Varnel
