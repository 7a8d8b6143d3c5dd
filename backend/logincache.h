#pragma once

#include <QJsonDocument>
#include <QString>

namespace Varnel {

// The file "bundile" in the working directory: the deciphered reply of the
// last network login, which an automatic login answers from. It holds the
// account's data, so it is readable and writable by its owner only.
class LoginCache
{
public:
    static QString fileName();

    // Null when the file is absent, empty or not JSON.
    static QJsonDocument read();
    // Replaces the file; a null document leaves it empty.
    static void write(const QJsonDocument &document);

    // The file as JSON text, for a login that parses it once. writeText
    // stores a reply's text as received (empty text empties the file).
    static QByteArray readText();
    static void writeText(const QByteArray &json);
};

} // namespace Varnel
