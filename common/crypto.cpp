#include "common/crypto.h"

#include <QByteArray>

namespace Varnel {

namespace {

// XOR with the repeating key; the same operation enciphers and deciphers.
QByteArray xorWithKey(QByteArray bytes, const QByteArray &key)
{
    if (key.isEmpty())
        return bytes;
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(bytes.at(i) ^ key.at(i % key.size()));
    return bytes;
}

} // namespace

QString encipher(const QString &plain, const QString &key)
{
    const QByteArray mixed = xorWithKey(plain.toUtf8(), key.toUtf8());
    return QString::fromLatin1(mixed.toBase64());
}

QString decipher(const QString &cipher, const QString &key)
{
    const QByteArray mixed = QByteArray::fromBase64(cipher.toLatin1());
    return QString::fromUtf8(xorWithKey(mixed, key.toUtf8()));
}

} // namespace Varnel
