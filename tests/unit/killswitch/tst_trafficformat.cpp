#include "vpn/trafficformat.h"

#include <QFile>
#include <QtTest>

using namespace Varnel;

// Byte units and the reading of ping's output, on output captured from this
// machine's ping (iputils) in tests/unit/killswitch/data.
class TestTrafficFormat : public QObject
{
    Q_OBJECT

    static QString sample(const char *name)
    {
        QFile file(QStringLiteral(PING_SAMPLES "/") + QLatin1String(name));
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
    }

private slots:
    void formatBytes_data()
    {
        QTest::addColumn<quint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << quint64(0) << "0 B";
        QTest::newRow("largest bytes") << quint64(1023) << "1023 B";
        QTest::newRow("one kilobyte") << quint64(1024) << "1.0 KB";
        // Just below the next unit rounds within its own.
        QTest::newRow("just below a megabyte") << quint64(1048575) << "1024.0 KB";
        // An exact power of 1024, where a floating logarithm falls short of the unit.
        QTest::newRow("one terabyte") << quint64(1099511627776ULL) << "1.0 TB";
        QTest::newRow("largest count") << std::numeric_limits<quint64>::max() << "16.0 EB";
    }

    void formatBytes()
    {
        QFETCH(quint64, bytes);
        QTEST(Varnel::formatBytes(bytes), "text");
    }

    void parsePingOutput_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("shown");
        const QString reply = sample("ping-reply-loopback.txt");
        QVERIFY(reply.contains(QLatin1String("time=0.215 ms")));
        QTest::newRow("reply") << reply << "0 ms";
        // The same real reply with a longer round trip, written with decimals
        // and unit apart and, as other pings do, whole and with the unit
        // attached (loopback never takes that long).
        QString decimal = reply;
        decimal.replace(QLatin1String("time=0.215 ms"), QLatin1String("time=45.7 ms"));
        QTest::newRow("time=45.7 ms") << decimal << "45 ms";
        QString whole = reply;
        whole.replace(QLatin1String("time=0.215 ms"), QLatin1String("time=45ms"));
        QTest::newRow("time=45ms") << whole << "45 ms";
        // Unreachable: no reply line, though the summary holds "time 0ms".
        QTest::newRow("host unreachable") << sample("ping-host-unreachable.txt") << "0 ms";
        QTest::newRow("ping did not run") << QString() << "0 ms";
        // A reply without timestamp (tiny packets): only the summary says "time".
        QTest::newRow("reply without time") << sample("ping-reply-no-time.txt") << "0 ms";
        // A host name with "time" in it comes before the reply line.
        QTest::newRow("host named time") << QString(decimal).replace("PING 127.0.0.1", "PING timeserver") << "45 ms";
    }

    void parsePingOutput()
    {
        QFETCH(QString, output);
        QTEST(Varnel::parsePingOutput(output), "shown");
    }
};

QTEST_GUILESS_MAIN(TestTrafficFormat)
#include "tst_trafficformat.moc"
