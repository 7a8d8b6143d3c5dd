#include "common/settingsstore.h"

#include "common/appinfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace Varnel {

namespace {

// The store holds the (only scrambled) password, so its file is kept
// readable and writable by the owner alone, from its creation on.
void restrictToOwner(const QString &fileName)
{
#ifdef Q_OS_WIN
    Q_UNUSED(fileName)   // the registry branch of the current user is private already
#else
    if (!QFile::exists(fileName)) {
        QDir().mkpath(QFileInfo(fileName).absolutePath());
        QFile file(fileName);
        if (!file.open(QIODevice::WriteOnly))
            return;
    }
    QFile::setPermissions(fileName, QFile::ReadOwner | QFile::WriteOwner);
#endif
}

} // namespace

void readSettings(const std::function<void(QSettings &)> &read)
{
    QSettings settings(organizationName(), QString::fromLatin1(kApplicationId));
    read(settings);
}

void writeSettings(const std::function<void(QSettings &)> &write)
{
    QSettings settings(organizationName(), QString::fromLatin1(kApplicationId));
    restrictToOwner(settings.fileName());
    write(settings);
    settings.sync();
    restrictToOwner(settings.fileName());
}

} // namespace Varnel
