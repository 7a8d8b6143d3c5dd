#include "common/localeinfo.h"

#include <QtTest>

using namespace Varnel;

class TestLocaleInfo : public QObject
{
    Q_OBJECT
private slots:
    void callingCodeOfZone_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<int>("code");
        QTest::newRow("one word") << QByteArray("Asia/Dhaka") << 880;
        QTest::newRow("two words, UK") << QByteArray("Europe/London") << 44;
        QTest::newRow("two words, US") << QByteArray("America/New_York") << 1;
        QTest::newRow("three words") << QByteArray("Asia/Dubai") << 971;
        QTest::newRow("Norway") << QByteArray("Europe/Oslo") << 47;
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
        QTest::newRow("west, summer time") << QByteArray("America/New_York") << summer << "-04:00";
        QTest::newRow("half hour west") << QByteArray("America/St_Johns") << winter << "-03:30";
        QTest::newRow("India") << QByteArray("Asia/Kolkata") << winter << "+05:30";
        QTest::newRow("Nepal") << QByteArray("Asia/Kathmandu") << summer << "+05:45";
        QTest::newRow("fourteen east") << QByteArray("Pacific/Kiritimati") << winter << "+14:00";
        QTest::newRow("UTC") << QByteArray("UTC") << summer << "+00:00";
    }
    void utcOffset()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QDate, date);
        // Late evening too: the offset must not depend on the date rolling over.
        for (const QTime &time : {QTime(0, 10), QTime(12, 0), QTime(23, 50)})
            QTEST(utcOffsetText(QDateTime(date, time, QTimeZone(zone))), "text");
    }

    void followsTheSystemZone()
    {
        const QByteArray previous = qgetenv("TZ");
        qputenv("TZ", "Asia/Kolkata");
        const QString india = QStringLiteral("%1 %2").arg(countryCallingCode()).arg(utcOffsetText());
        qputenv("TZ", "UTC");
        const QString utc = QStringLiteral("%1 %2").arg(countryCallingCode()).arg(utcOffsetText());
        if (previous.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", previous);
        QCOMPARE(india, QStringLiteral("91 +05:30"));
        QCOMPARE(utc, QStringLiteral("-1 +00:00"));
    }
};

QTEST_GUILESS_MAIN(TestLocaleInfo)
#include "tst_localeinfo.moc"
