// The widget-free helpers of common/: the cipher, the style sheet's font
// rewrite, the locale values and the file helpers.
#include "common/crypto.h"
#include "common/fileutil.h"
#include "common/localeinfo.h"
#include "common/stylefonts.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using namespace Varnel;

class TestCommonHelpers : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    static QByteArray contents(const QString &fileName)
    {
        QFile f(fileName);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }

private slots:
    void init() { QVERIFY(m_dir.isValid()); }

    // Expected values computed outside this code base (Python: base64 of the
    // UTF-8 bytes XORed with the repeating key).
    void cipherVectors_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("cipher");
        // Ten characters under a nine-byte key: the last one is mixed with the key's first byte again.
        QTest::newRow("reply, key wraps") << "0123456789" << kReplyKey << "Yl5IXgEdXUBIaw==";
        QTest::newRow("credential") << "alice" << kCredentialKey << "Klg9MjI=";
        QTest::newRow("non-ascii") << QString::fromUtf8("Jürgen € 密码") << kCredentialKey
                                   << "AffoIzAuWnSz1ecUsf7RrJTV";
        QTest::newRow("empty") << QString() << kCredentialKey << QString();
    }
    void cipherVectors()
    {
        QFETCH(QString, plain);
        QFETCH(QString, key);
        QFETCH(QString, cipher);
        QCOMPARE(encipher(plain, key), cipher);
        QCOMPARE(decipher(cipher, key), plain);
        // Line breaks inside a reply body are not part of the Base64 alphabet.
        QCOMPARE(decipher(cipher.left(8) + "\r\n" + cipher.mid(8), key), plain);
    }

    void fontRewrite_data()
    {
        QTest::addColumn<QByteArray>("in");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<int>("size16");   // what 16 px becomes
        QTest::addColumn<int>("size24");   // what 24 px becomes
        QTest::addColumn<int>("weight");
        const auto row = [](const char *name, const QByteArray &in, const QByteArray &out, int size16 = 14,
                            int size24 = 22, int weight = 500) {
            QTest::newRow(name) << in << out << size16 << size24 << weight;
        };
        row("24px, no blank", "QLabel{font-size:24px;}", "QLabel{font-size: 22px;}");
        row("weights", "a{font-weight: 600;} b{font-weight:700;}", "a{font-weight: 500;} b{font-weight: 500;}");
        row("116px is not 16px", "a{font-size:116px;} b{font-size: 160px;}", "a{font-size: 116px;} b{font-size: 160px;}");
        // Only weights that some declaration ends with ";" are known to the sheet.
        row("weight without semicolon", "a{font-weight: 800}", "a{font-weight: 800}");
        row("ends at zero byte", QByteArray("a{font-size:24px;}\0b{font-size:16px;}", 37), "a{font-size: 22px;}");
        // 16 -> 24 must not then be taken for a 24 and turned into 22 (and the other way round).
        row("16 made 24 stays 24", "a{font-size:16px;} b{font-size:24px;}", "a{font-size: 24px;} b{font-size: 22px;}",
            24, 22, 400);
        row("other bytes survive", QString::fromUtf8("/* Überschrift */\nQLabel#t {\n  font-size:24px;\n}\n").toUtf8(),
            QString::fromUtf8("/* Überschrift */\nQLabel#t {\n  font-size: 22px;\n}\n").toUtf8());
    }
    void fontRewrite()
    {
        QFETCH(QByteArray, in);
        QFETCH(int, size16);
        QFETCH(int, size24);
        QFETCH(int, weight);
        QTEST(rewriteFonts(in, size16, size24, weight), "out");
    }

    void callingCodeOfZone_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<int>("code");
        QTest::newRow("one word") << QByteArray("Asia/Dhaka") << 880;
        QTest::newRow("two words, UK") << QByteArray("Europe/London") << 44;
        QTest::newRow("no country") << QByteArray("UTC") << -1;
    }
    void callingCodeOfZone()
    {
        QFETCH(QByteArray, zone);
        const QTimeZone tz(zone);
        QVERIFY2(tz.isValid(), zone.constData());
        QTEST(countryCallingCode(tz), "code");
    }

    void utcOffset_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("text");
        const QDate winter(2023, 1, 15);
        const QDate summer(2023, 7, 15);
        QTest::newRow("five hours west") << QByteArray("America/New_York") << winter << "-05:00";
        QTest::newRow("half hour west") << QByteArray("America/St_Johns") << winter << "-03:30";
        QTest::newRow("Nepal") << QByteArray("Asia/Kathmandu") << summer << "+05:45";
    }
    void utcOffset()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QDate, date);
        // Late evening too: the offset must not depend on the date rolling over.
        for (const QTime &time : {QTime(0, 10), QTime(12, 0), QTime(23, 50)})
            QTEST(utcOffsetText(QDateTime(date, time, QTimeZone(zone))), "text");
    }

    void localeFollowsTheSystemZone()
    {
        const QByteArray previous = qgetenv("TZ");
        qputenv("TZ", "Asia/Kolkata");
        const QString india = QStringLiteral("%1 %2").arg(countryCallingCode()).arg(utcOffsetText());
        if (previous.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", previous);
        QCOMPARE(india, QStringLiteral("91 +05:30"));
    }

    void jsonFiles()
    {
        const QString name = m_dir.filePath(QStringLiteral("bundile"));
        const QJsonDocument doc(QJsonObject{{"status", 1}, {"servers", QJsonArray{QJsonObject{{"ip_id", 7}}}}});
        writeJson(doc, name);
        QCOMPARE(readJson(name), doc);
        // A null document empties the file; an empty, broken or missing file reads as null.
        writeJson(QJsonDocument(), name);
        QCOMPARE(contents(name), QByteArray());
        writeTextFile(QStringLiteral("{\"a\": "), m_dir.path(), QStringLiteral("broken.json"));
        for (const QString &unreadable : {name, m_dir.filePath(QStringLiteral("broken.json")),
                                          m_dir.filePath(QStringLiteral("missing.json"))})
            QVERIFY2(readJson(unreadable).isNull(), qPrintable(unreadable));
    }

    void textFileIsTruncatedAndSharedWithAll()
    {
        const QString name = m_dir.filePath(QStringLiteral("service.txt"));
        writeTextFile(QStringLiteral("a much longer first text"), m_dir.path(), QStringLiteral("service.txt"));
        writeTextFile(QStringLiteral("on"), m_dir.path(), QStringLiteral("service.txt"));
        QCOMPARE(contents(name), QByteArray("on"));
        const auto all = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup
                         | QFile::ReadOther | QFile::WriteOther;
        QCOMPARE(QFile::permissions(name) & all, all);

        // A directory that does not exist: nothing is created, nothing crashes.
        writeTextFile(QStringLiteral("x"), m_dir.filePath(QStringLiteral("nope")), QStringLiteral("f.txt"));
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("nope/f.txt"))));
    }
};

QTEST_GUILESS_MAIN(TestCommonHelpers)
#include "tst_commonhelpers.moc"
