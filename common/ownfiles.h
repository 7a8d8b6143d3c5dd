#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace Varnel {

// Files of this user's client that no other user can reach. A file passes
// when neither it nor its folder is a link, both belong to this user, the
// file has no second name, and nobody else may write to the folder: then no
// other user can plant a file for the client to read, nor a link for it to
// write through. Every refusal says why, in a line for the log.

// A folder only this user may enter: made with mode 0700 (and its missing
// parents), or narrowed to 0700 when it is one of this user's. A link, a
// non-folder or another user's folder is refused.
bool makePrivateFolder(const QString &path, QString *why = nullptr);

// A folder (not a link) of this user that nobody else may write to.
bool isOwnFolder(const QString &path, QString *why = nullptr);

// True when fileName may be written: its folder passes isOwnFolder, and the
// file is absent or a regular file (not a link) of this user with one name.
bool mayWriteOwnFile(const QString &fileName, QString *why = nullptr);

// Replaces fileName with data when mayWriteOwnFile allows it: the data goes
// to a new file beside it that is then renamed over it, so nothing is ever
// written in place or through a link. Missing folders are made with 0700.
bool writeOwnFile(const QString &fileName, const QByteArray &data, int mode = 0600, QString *why = nullptr);

// The content of fileName when the same rule allows it; nothing when the
// file is absent (why stays empty) or refused.
std::optional<QByteArray> readOwnFile(const QString &fileName, QString *why = nullptr);

} // namespace Varnel
