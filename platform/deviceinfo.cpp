#include "platform/deviceinfo.h"

#include "common/logger.h"

#include <QFile>

namespace Varnel {

namespace {

// One DMI attribute, trimmed; "Unknown" (and a log line) when unreadable or empty.
QString readDmiValue(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        Logger::instance().log(QStringLiteral("Cannot read %1: %2").arg(fileName, file.errorString()), 1, 4);
        return QStringLiteral("Unknown");
    }
    const QString value = QString::fromUtf8(file.readAll()).trimmed();
    if (value.isEmpty()) {
        Logger::instance().log(QStringLiteral("Cannot read %1: empty value").arg(fileName), 1, 4);
        return QStringLiteral("Unknown");
    }
    return value;
}

} // namespace

DeviceInfo deviceInfoFrom(const QString &dmiDirectory)
{
    DeviceInfo info;
    info.manufacturer = readDmiValue(dmiDirectory + QStringLiteral("/sys_vendor"));
    info.model = readDmiValue(dmiDirectory + QStringLiteral("/product_name"));
    return info;
}

DeviceInfo deviceInfo()
{
    return deviceInfoFrom(QStringLiteral("/sys/class/dmi/id"));
}

} // namespace Varnel
