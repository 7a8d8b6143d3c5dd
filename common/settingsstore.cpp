#include "common/settingsstore.h"

#include "common/appinfo.h"
#include "common/logger.h"
#include "common/ownfiles.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace Varnel {

namespace {

// Makes the store's file owner-only in a private folder before anything is
// written, so the settings library (which writes through a link) never
// meets one, and nobody else may change the folder in between.
bool prepareOwnerOnly(const QString &fileName)
{
#ifdef Q_OS_WIN
    Q_UNUSED(fileName)   // the registry branch of the current user is private already
    return true;
#else
    QString why;
    bool ready = makePrivateFolder(QFileInfo(fileName).path(), &why) && mayWriteOwnFile(fileName, &why);
    if (ready && !QFile::exists(fileName))
        ready = writeOwnFile(fileName, QByteArray(), 0600, &why);
    if (!ready) {
        Logger::instance().log(QStringLiteral("Settings not saved: %1").arg(why), 1, 4);
        return false;
    }
    // Neither a link nor someone else's: the mode can be set by name.
    QFile::setPermissions(fileName, QFile::ReadOwner | QFile::WriteOwner);
    return true;
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
    writeSettings(organizationName(), QString::fromLatin1(kApplicationId), write);
}

void writeSettings(const QString &organization, const QString &application,
                   const std::function<void(QSettings &)> &write)
{
    QSettings settings(organization, application);
    if (!prepareOwnerOnly(settings.fileName()))
        return;
    write(settings);
    settings.sync();
    // A rewritten file gets the library's default mode.
    prepareOwnerOnly(settings.fileName());
}

} // namespace Varnel
