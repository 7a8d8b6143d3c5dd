#include "platform/osname.h"

#include <QSysInfo>

namespace Varnel {

QString loginSystemName()
{
    return QSysInfo::productType();
}

QString loginSystemFamily()
{
#if defined(Q_OS_WIN)
    return QStringLiteral("Windows");
#else
    return QStringLiteral("Linux");
#endif
}

} // namespace Varnel
