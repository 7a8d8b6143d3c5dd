#pragma once

#include <QString>

namespace Varnel {

struct DeviceInfo {
    QString manufacturer = QStringLiteral("Unknown");
    QString model = QStringLiteral("Unknown");
};

// Manufacturer and model of this computer; "Unknown" for what cannot be read
// (each failure is logged).
DeviceInfo deviceInfo();

// Linux: reads sys_vendor and product_name from the given DMI directory
// (normally /sys/class/dmi/id).
DeviceInfo deviceInfoFrom(const QString &dmiDirectory);

} // namespace Varnel
