#include "common/crypto.h"

#include <QtTest>

using namespace Varnel;

class TestCrypto : public QObject
{
    Q_OBJECT
private slots:
    // Expected values computed outside this code base (Python: base64 of the
    // UTF-8 bytes XORed with the repeating key).
    void vectors_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("cipher");
        QTest::newRow("endpoint") << "https://api.example.com/login.php" << kEndpointKey
                                  << "LwJcOAJXTVcEBC5YTTAQABIUAFokGUVnHQIFEQtaNx5Y";
        // Ten characters under a nine-byte key: the last one is mixed with the key's first byte again.
        QTest::newRow("reply, key wraps") << "0123456789" << kReplyKey << "Yl5IXgEdXUBIaw==";
        QTest::newRow("credential") << "alice" << kCredentialKey << "Klg9MjI=";
        QTest::newRow("authToken") << "{\"a\":1}" << kAuthTokenKey << "CEoTTU9VTg==";
        QTest::newRow("non-ascii") << QString::fromUtf8("Jürgen € 密码") << kCredentialKey
                                   << "AffoIzAuWnSz1ecUsf7RrJTV";
        QTest::newRow("empty") << QString() << kCredentialKey << QString();
    }
    void vectors()
    {
        QFETCH(QString, plain);
        QFETCH(QString, key);
        QFETCH(QString, cipher);
        QCOMPARE(encipher(plain, key), cipher);
        QCOMPARE(decipher(cipher, key), plain);
    }

    void decipherUndoesEncipher()
    {
        // Characters above U+00FF and XOR results of 0x80 and above.
        for (const QString &text : {QString::fromUtf8("pässwörd"), QString::fromUtf8("Ωmega-密码-😀"),
                                    QString(QChar(0xFF)) + QChar(0x80) + QChar(0x7F)}) {
            for (const char *key : {kEndpointKey, kReplyKey, kAuthTokenKey, kCredentialKey})
                QCOMPARE(decipher(encipher(text, key), key), text);
        }
        // Line breaks inside a reply body are not part of the Base64 alphabet.
        QCOMPARE(decipher(QStringLiteral("Yl5IXgEd\r\nXUBIaw=="), kReplyKey), QStringLiteral("0123456789"));
    }
};

QTEST_GUILESS_MAIN(TestCrypto)
#include "tst_crypto.moc"
