#pragma once

#include <QJsonDocument>
#include <QString>

namespace Varnel {

// The file "bundile": the deciphered reply of the last network login, which
// an automatic login answers from. It lives in the user's private state
// folder (platform/userfolders), never in the working directory: a shared
// folder such as /tmp would let another user plant a reply (the next login
// would send the user's password to the server it names) or a link (the
// client would write through it). A file that is a link or another user's
// is neither read nor written; the cache is then empty and the next login
// asks the network. Readable and writable by its owner only.
class LoginCache
{
public:
    static QString fileName();

    // Null when the file is absent, empty, refused or not JSON.
    static QJsonDocument read();
    // Replaces the file; a null document leaves it empty.
    static void write(const QJsonDocument &document);

    // The file as JSON text, for a login that parses it once. writeText
    // stores a reply's text as received (empty text empties the file).
    static QByteArray readText();
    static void writeText(const QByteArray &json);
};

} // namespace Varnel
