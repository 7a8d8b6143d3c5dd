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
    void readsTrimmedValuesElseUnknownAndLogged_data()
    {
        // A null content: the file is missing.
        QTest::addColumn<QByteArray>("vendorFile");
        QTest::addColumn<QByteArray>("productFile");
        QTest::addColumn<QString>("manufacturer");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QStringList>("logged");   // files named in the log, in order
        QTest::newRow("trimmed") << QByteArray("LENOVO \n") << QByteArray("  ThinkPad X1 Carbon Gen 9\n")
                                 << "LENOVO" << "ThinkPad X1 Carbon Gen 9" << QStringList();
        QTest::newRow("vendor missing, model blank") << QByteArray() << QByteArray(" \n") << "Unknown" << "Unknown"
                                                     << QStringList({"sys_vendor", "product_name"});
        QTest::newRow("no such directory") << QByteArray() << QByteArray() << "Unknown" << "Unknown"
                                           << QStringList({"sys_vendor", "product_name"});
    }
    void readsTrimmedValuesElseUnknownAndLogged()
    {
        QFETCH(QByteArray, vendorFile);
        QFETCH(QByteArray, productFile);
        QFETCH(QStringList, logged);
        QTemporaryDir dmi;
        const bool noDirectory = vendorFile.isNull() && productFile.isNull();
        const QString dir = noDirectory ? dmi.filePath("absent") : dmi.path();
        for (const auto &[name, bytes] : {std::pair<const char *, QByteArray>{"sys_vendor", vendorFile},
                                          {"product_name", productFile}}) {
            QFile f(dmi.filePath(QLatin1String(name)));
            QVERIFY(bytes.isNull() || (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size()));
        }
        const auto all = Logger::instance().messagesSince(-1);
        const int before = all.isEmpty() ? -1 : all.last().id;

        const DeviceInfo info = deviceInfoFrom(dir);
        QTEST(info.manufacturer, "manufacturer");
        QTEST(info.model, "model");
        const auto messages = Logger::instance().messagesSince(before);
        QCOMPARE(messages.size(), logged.size());
        for (int i = 0; i < logged.size(); ++i) {
            QVERIFY2(messages.at(i).message.contains(dir + QLatin1Char('/') + logged.at(i)),
                     qPrintable(messages.at(i).message));
            QCOMPARE(qMakePair(messages.at(i).level, messages.at(i).category), qMakePair(1, 4));
        }
    }
};

QTEST_GUILESS_MAIN(TestDeviceInfo)
#include "tst_deviceinfo.moc"
