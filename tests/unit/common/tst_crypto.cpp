#include "common/crypto.h"

#include <QtTest>

using namespace Varnel;

class TestCrypto : public QObject
{
    Q_OBJECT
private slots:
    void asciiVectors_data();
    void asciiVectors();
    void keyWrapsAfterItsLength();
    void emptyInput();
    void unicodeSurvivesRoundTrip();
    void decipherSkipsForeignCharacters();
};

// Expected values computed outside this code base (Python: base64 of the
// UTF-8 bytes XORed with the repeating key).
void TestCrypto::asciiVectors_data()
{
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("cipher");
    QTest::newRow("endpoint") << "https://api.example.com/login.php" << kEndpointKey
                              << "LwJcOAJXTVcEBC5YTTAQABIUAFokGUVnHQIFEQtaNx5Y";
    QTest::newRow("reply") << "0123456789" << kReplyKey << "Yl5IXgEdXUBIaw==";
    QTest::newRow("credential") << "alice" << kCredentialKey << "Klg9MjI=";
    QTest::newRow("authToken") << "{\"a\":1}" << kAuthTokenKey << "CEoTTU9VTg==";
    QTest::newRow("non-ascii") << QString::fromUtf8("Jürgen € 密码") << kCredentialKey
                               << "AffoIzAuWnSz1ecUsf7RrJTV";
}

void TestCrypto::asciiVectors()
{
    QFETCH(QString, plain);
    QFETCH(QString, key);
    QFETCH(QString, cipher);
    QCOMPARE(encipher(plain, key), cipher);
    QCOMPARE(decipher(cipher, key), plain);
}

void TestCrypto::keyWrapsAfterItsLength()
{
    const QByteArray key(kReplyKey);
    QCOMPARE(key.size(), 9);
    const QByteArray mixed = QByteArray::fromBase64(encipher(QStringLiteral("0123456789"), kReplyKey).toLatin1());
    QCOMPARE(mixed.size(), 10);
    QCOMPARE(char(mixed.at(8)), char('8' ^ key.at(8)));
    QCOMPARE(char(mixed.at(9)), char('9' ^ key.at(0)));
}

void TestCrypto::emptyInput()
{
    QCOMPARE(encipher(QString(), kCredentialKey), QString());
    QCOMPARE(decipher(QString(), kEndpointKey), QString());
    QCOMPARE(decipher(QStringLiteral(""), kReplyKey), QString());
}

void TestCrypto::unicodeSurvivesRoundTrip()
{
    // Characters above U+00FF and XOR results of 0x80 and above.
    const QStringList texts = {QString::fromUtf8("pässwörd"), QString::fromUtf8("Ωmega-密码-😀"),
                               QString(QChar(0xFF)) + QChar(0x80) + QChar(0x7F)};
    for (const QString &text : texts) {
        for (const char *key : {kEndpointKey, kReplyKey, kAuthTokenKey, kCredentialKey})
            QCOMPARE(decipher(encipher(text, key), key), text);
    }
}

void TestCrypto::decipherSkipsForeignCharacters()
{
    // Line breaks inside a reply body are not part of the Base64 alphabet.
    QCOMPARE(decipher(QStringLiteral("Yl5IXgEd\r\nXUBIaw=="), kReplyKey), QStringLiteral("0123456789"));
}

QTEST_GUILESS_MAIN(TestCrypto)
#include "tst_crypto.moc"
