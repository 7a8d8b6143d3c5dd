#pragma once

#include <QString>

namespace Varnel {

// Keys shared with the backend and its web pages, one per use.
inline constexpr char kEndpointKey[] = "Gv(Hqmbxet";                   // endpoint values of the remote data document
inline constexpr char kReplyKey[] = "Rozm5(kwp";                       // login and logged-devices replies
inline constexpr char kAuthTokenKey[] = "shroud3OrUn5shroudFor7Fields"; // authToken of web-page addresses
inline constexpr char kCredentialKey[] = "K4TQW";                      // stored user name and password

// Repeating-key XOR over the UTF-8 bytes of the text, Base64-encoded.
// Byte i is XORed with key byte (i mod key length); an empty key leaves the
// bytes unchanged. Empty input gives empty output.
QString encipher(const QString &plain, const QString &key);

// Inverse of encipher: Base64-decodes (skipping characters outside the
// alphabet), XORs with the key and reads the result as UTF-8.
QString decipher(const QString &cipher, const QString &key);

// decipher without the text conversions, for large replies: the Base64
// text in, the deciphered UTF-8 bytes out.
QByteArray decipherToUtf8(const QByteArray &cipher, const QByteArray &key);

} // namespace Varnel
