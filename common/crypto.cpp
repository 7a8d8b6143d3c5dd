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
    return QString::fromUtf8(decipherToUtf8(cipher.toLatin1(), key.toUtf8()));
}

QByteArray decipherToUtf8(const QByteArray &cipher, const QByteArray &key)
{
    return xorWithKey(QByteArray::fromBase64(cipher), key);
}

} // namespace Varnel
