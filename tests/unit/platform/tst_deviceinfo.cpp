#include "common/logger.h"
#include "platform/deviceinfo.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace Varnel;

class TestDeviceInfo : public QObject
{
    Q_OBJECT
private slots:
    void readsTrimmedValues();
    void unreadableOrEmptyIsUnknownAndLogged();

private:
    static bool put(const QString &fileName, const QByteArray &bytes)
    {
        QFile f(fileName);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
    static int lastLogId()
    {
        const auto all = Logger::instance().messagesSince(-1);
        return all.isEmpty() ? -1 : all.last().id;
    }
};

void TestDeviceInfo::readsTrimmedValues()
{
    QTemporaryDir dmi;
    QVERIFY(put(dmi.filePath("sys_vendor"), "LENOVO \n"));
    QVERIFY(put(dmi.filePath("product_name"), "  ThinkPad X1 Carbon Gen 9\n"));
    const int before = lastLogId();
    const DeviceInfo info = deviceInfoFrom(dmi.path());
    QCOMPARE(info.manufacturer, QStringLiteral("LENOVO"));
    QCOMPARE(info.model, QStringLiteral("ThinkPad X1 Carbon Gen 9"));
    QVERIFY(Logger::instance().messagesSince(before).isEmpty());
}

void TestDeviceInfo::unreadableOrEmptyIsUnknownAndLogged()
{
    QTemporaryDir dmi;
    QVERIFY(put(dmi.filePath("product_name"), " \n"));   // vendor missing, model blank
    const int before = lastLogId();
    const DeviceInfo info = deviceInfoFrom(dmi.path());
    QCOMPARE(info.manufacturer, QStringLiteral("Unknown"));
    QCOMPARE(info.model, QStringLiteral("Unknown"));

    const auto logged = Logger::instance().messagesSince(before);
    QCOMPARE(logged.size(), 2);
    QVERIFY2(logged.at(0).message.contains(dmi.filePath("sys_vendor")), qPrintable(logged.at(0).message));
    QVERIFY2(logged.at(1).message.contains(dmi.filePath("product_name")), qPrintable(logged.at(1).message));
    for (const auto &m : logged) {
        QCOMPARE(m.level, 1);
        QCOMPARE(m.category, 4);
    }

    // A directory that does not exist at all behaves the same.
    const DeviceInfo none = deviceInfoFrom(dmi.filePath("absent"));
    QCOMPARE(none.manufacturer, QStringLiteral("Unknown"));
    QCOMPARE(none.model, QStringLiteral("Unknown"));
}

QTEST_GUILESS_MAIN(TestDeviceInfo)
#include "tst_deviceinfo.moc"
