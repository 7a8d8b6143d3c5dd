#include "common/appinfo.h"

#include <QObject>

namespace Varnel {

QString applicationName()
{
    return QObject::tr("VarnelVPN");
}

QString applicationVersion()
{
    return QStringLiteral("3.0.4");
}

QString organizationName()
{
    return QStringLiteral("Morvanta");
}

} // namespace Varnel
