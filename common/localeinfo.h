#pragma once

#include <QDateTime>
#include <QString>
#include <QTimeZone>

namespace Varnel {

// Telephone calling code of the country of the system's time zone, -1 when
// the country is unknown or not in the map.
int countryCallingCode();
int countryCallingCode(const QTimeZone &zone);

// Local UTC offset as sign + "hh:mm", e.g. "-05:00", "+05:30", "+00:00".
QString utcOffsetText();
// The same for the given moment, taken in its own time zone.
QString utcOffsetText(const QDateTime &local);

} // namespace Varnel
