#include "common/ownfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QSaveFile>
#endif

namespace Varnel {

namespace {

bool refuse(QString *why, const QString &text)
{
    if (why)
        *why = text;
    return false;
}

QString cleanAbsolute(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

#ifdef Q_OS_UNIX

namespace {

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

QString systemError(const QString &path, int error)
{
    if (error == ELOOP)
        return QStringLiteral("%1 is a link").arg(path);
    return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(error)));
}

// An open folder that passed the checks; later steps work relative to it, so
// a folder swapped after the checks is never the one written to.
class OwnFolder
{
public:
    explicit OwnFolder(const QString &path)
    {
        m_fd = ::open(native(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st {};
        if (m_fd < 0 || ::fstat(m_fd, &st) != 0) {
            m_absent = errno == ENOENT;
            m_why = systemError(path, errno);
        } else if (st.st_uid != ::geteuid()) {
            m_why = QStringLiteral("%1 belongs to another user (uid %2)").arg(path).arg(st.st_uid);
        } else {
            m_mode = st.st_mode;
            if (m_mode & (S_IWGRP | S_IWOTH))
                m_othersMayWrite = QStringLiteral("others may write to %1").arg(path);
        }
    }
    ~OwnFolder()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    OwnFolder(const OwnFolder &) = delete;
    OwnFolder &operator=(const OwnFolder &) = delete;

    // This user's folder, whoever else may write to it.
    bool ours(QString *why) const { return m_why.isEmpty() || refuse(why, m_why); }
    // ... and nobody else may write to it.
    bool ok(QString *why) const { return ours(why) && (m_othersMayWrite.isEmpty() || refuse(why, m_othersMayWrite)); }
    bool absent() const { return m_absent; }
    int fd() const { return m_fd; }
    mode_t mode() const { return m_mode; }

    // A file in it that may be replaced: absent, or a regular file of this
    // user with one name.
    bool fileAllowed(const QByteArray &name, const QString &fileName, QString *why) const
    {
        struct stat st {};
        if (::fstatat(m_fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT || refuse(why, systemError(fileName, errno));
        return checkFile(st, fileName, why);
    }

    static bool checkFile(const struct stat &st, const QString &fileName, QString *why)
    {
        if (S_ISLNK(st.st_mode))
            return refuse(why, QStringLiteral("%1 is a link").arg(fileName));
        if (!S_ISREG(st.st_mode))
            return refuse(why, QStringLiteral("%1 is not a regular file").arg(fileName));
        if (st.st_uid != ::geteuid())
            return refuse(why, QStringLiteral("%1 belongs to another user (uid %2)").arg(fileName).arg(st.st_uid));
        if (st.st_nlink != 1)
            return refuse(why, QStringLiteral("%1 has another name (a hard link)").arg(fileName));
        return true;
    }

private:
    QString m_why;
    QString m_othersMayWrite;
    int m_fd = -1;
    mode_t m_mode = 0;
    bool m_absent = false;
};

// Makes the missing folders of path, each 0700; what exists is left as it
// is for the caller's checks.
void makeMissingFolders(const QString &path)
{
    struct stat st {};
    if (path.isEmpty() || ::lstat(native(path).constData(), &st) == 0)
        return;
    makeMissingFolders(QFileInfo(path).path());
    ::mkdir(native(path).constData(), 0700);
}

bool writeAll(int fd, const QByteArray &data)
{
    const char *next = data.constData();
    qint64 left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        next += written;
        left -= written;
    }
    return true;
}

} // namespace

bool makePrivateFolder(const QString &path, QString *why)
{
    const QString folder = cleanAbsolute(path);
    makeMissingFolders(folder);
    // Another user's folder stays refused; one of ours is narrowed.
    const OwnFolder own(folder);
    if (!own.ours(why))
        return false;
    if ((own.mode() & 0077) && ::fchmod(own.fd(), 0700) != 0)
        return refuse(why, systemError(folder, errno));
    return true;
}

bool isOwnFolder(const QString &path, QString *why)
{
    return OwnFolder(cleanAbsolute(path)).ok(why);
}

bool mayWriteOwnFile(const QString &fileName, QString *why)
{
    const QFileInfo info(cleanAbsolute(fileName));
    const OwnFolder folder(info.path());
    return folder.ok(why) && folder.fileAllowed(native(info.fileName()), info.filePath(), why);
}

bool writeOwnFile(const QString &fileName, const QByteArray &data, int mode, QString *why)
{
    const QFileInfo info(cleanAbsolute(fileName));
    makeMissingFolders(info.path());
    const OwnFolder folder(info.path());
    const QByteArray name = native(info.fileName());
    if (!folder.ok(why) || !folder.fileAllowed(name, info.filePath(), why))
        return false;

    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = '.' + name + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd = ::openat(folder.fd(), temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      0600);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return refuse(why, systemError(info.filePath(), errno));
    const bool written = ::fchmod(fd, mode_t(mode)) == 0 && writeAll(fd, data);
    const int writeError = errno;
    if (::close(fd) != 0 || !written
        || ::renameat(folder.fd(), temporary.constData(), folder.fd(), name.constData()) != 0) {
        const int error = written ? errno : writeError;
        ::unlinkat(folder.fd(), temporary.constData(), 0);
        return refuse(why, systemError(info.filePath(), error));
    }
    return true;
}

std::optional<QByteArray> readOwnFile(const QString &fileName, QString *why)
{
    const QFileInfo info(cleanAbsolute(fileName));
    const OwnFolder folder(info.path());
    if (folder.absent() || !folder.ok(why))
        return std::nullopt;
    // Non-blocking: a planted pipe must not stop the program.
    const int fd = ::openat(folder.fd(), native(info.fileName()).constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT)
            refuse(why, systemError(info.filePath(), errno));
        return std::nullopt;
    }
    QFile file;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !OwnFolder::checkFile(st, info.filePath(), why)
        || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
    return file.readAll();
}

#else

// The user's profile folders are private to the user on Windows; links are
// not planted there by other users.

bool makePrivateFolder(const QString &path, QString *why)
{
    return QDir().mkpath(path) || refuse(why, QStringLiteral("cannot make %1").arg(path));
}

bool isOwnFolder(const QString &path, QString *why)
{
    return QFileInfo(path).isDir() || refuse(why, QStringLiteral("%1 is not a folder").arg(path));
}

bool mayWriteOwnFile(const QString &fileName, QString *why)
{
    return isOwnFolder(QFileInfo(fileName).path(), why);
}

bool writeOwnFile(const QString &fileName, const QByteArray &data, int, QString *why)
{
    QDir().mkpath(QFileInfo(fileName).path());
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit())
        return refuse(why, QStringLiteral("%1: %2").arg(fileName, file.errorString()));
    return true;
}

std::optional<QByteArray> readOwnFile(const QString &fileName, QString *)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

#endif

} // namespace Varnel
