#include "platform/userfolders.h"

#include "common/appinfo.h"
#include "common/logger.h"
#include "common/ownfiles.h"

#include <QDir>
#include <QStandardPaths>

namespace Varnel {

QString stateDirectory()
{
#ifdef Q_OS_WIN
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
#else
    // Only an absolute path counts; a relative one is ignored.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(base) + QLatin1Char('/') + QLatin1String(kApplicationId);
#endif
}

QString instanceDirectory()
{
#ifdef Q_OS_WIN
    return stateDirectory();
#else
    QString why;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) && isOwnFolder(runtime, &why))
        return QDir::cleanPath(runtime);
    if (!runtime.isEmpty())
        Logger::instance().log(QStringLiteral("Runtime folder not used: %1").arg(why), 1, 4);
    const QString state = stateDirectory();
    if (makePrivateFolder(state, &why))
        return state;
    Logger::instance().log(QStringLiteral("No private folder for the single-instance lock: %1").arg(why), 1, 4);
    return QString();
#endif
}

} // namespace Varnel
