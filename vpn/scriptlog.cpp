#include "vpn/scriptlog.h"

#include "platform/vpnplatform.h"
#include "vpn/enginelog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Varnel {

void forwardScriptLog(const QString &directory)
{
    const QString path = directory + QDir::separator() + QStringLiteral("vpnc.log");
    QFile file(path);
    // The name is fixed and the directory shared: anyone could plant a link
    // there to a file we should not read (we may run as root).
    if (QFileInfo(path).isSymLink() || (QFileInfo::exists(path) && !isOwnRegularFile(path))) {
        engineLog(QStringLiteral("Could not open %1: not a regular file of ours").arg(path));
        return;
    }
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        engineLog(QStringLiteral("Could not open %1: %2").arg(path).arg(int(file.error())));
        return;
    }
    // The server's banner sits between "--- BANNER ---" lines; it is logged
    // like every other line.
    while (!file.atEnd())
        engineLog(QString::fromLocal8Bit(file.readLine()).remove(QLatin1Char('\n')));
    file.close();
    if (!file.remove())
        engineLog(QStringLiteral("Could not remove %1: %2").arg(path).arg(int(file.error())));
}

} // namespace Varnel
