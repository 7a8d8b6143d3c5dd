// The network test page: the address and security verdict it reports, the
// ping reading, the 1000-step rates, and the two probes against the
// reference backend over HTTPS on loopback. Every address is on loopback.
#include "backendpagetest.h"
#include "child.h"

#include "backend/user.h"
#include "common/config.h"
#include "common/netinfo.h"
#include "pages/connect/connectpage.h"
#include "pages/tools/toolspage.h"
#include "tools/refbackend/webpages.h"
#include "vpn/trafficformat.h"

#include <QFile>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

using namespace Varnel;
using RefBackend::WebPages;

namespace {

QString sample(const char *name)
{
    QFile file(QStringLiteral(PING_SAMPLES "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
}

} // namespace

class ToolsPageTest : public BackendPageTest
{
    Q_OBJECT

    void useProbesAt(const QString &base)
    {
        qputenv("VARNELVPN_DOWNLOAD_PROBE", (base + QLatin1String(WebPages::kDownloadProbePath)).toUtf8());
        qputenv("VARNELVPN_UPLOAD_PROBE", (base + QLatin1String(WebPages::kUploadProbePath)).toUtf8());
    }
    static QString text(QWidget *page, const char *label) { return child<QLabel>(page, label)->text(); }
    static void press(ToolsPage &page) { QTest::mousePress(child<QPushButton>(&page, "btnTest"), Qt::LeftButton); }

private slots:
    void init()
    {
        BackendPageTest::init();
        useProbesAt(m_backend.baseUrl());
        qputenv("VARNELVPN_PING_TARGET", "127.0.0.1");
    }

    void rates_data()
    {
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "0 Bytes";
        QTest::newRow("negative counts as zero") << qint64(-5) << "0 Bytes";
        QTest::newRow("below a thousand") << qint64(999) << "999.00 Bytes";
        QTest::newRow("kilo") << qint64(1500) << "1.50 KB";
        QTest::newRow("mega") << qint64(1536000) << "1.54 MB";
        QTest::newRow("a whole power") << qint64(1000000) << "1.00 MB";
    }
    void rates()
    {
        QFETCH(qint64, count);
        QFETCH(QString, text);
        QCOMPARE(formatDecimalBytes(count, 2), text);
    }

    // Outputs of this machine's ping.
    void pingReading_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("shown");
        const QString reply = sample("ping-reply-loopback.txt");
        QTest::newRow("reply") << reply << "0 Ms";
        QTest::newRow("reply of 23 ms") << QString(reply).replace("time=0.215 ms", "time=23.4 ms") << "23 Ms";
        QTest::newRow("below a millisecond, no =") << QString(reply).replace("time=0.215 ms", "time<1ms")
                                                    << "time<1 Ms";
        QTest::newRow("unreachable") << sample("ping-host-unreachable.txt") << "0 Ms";
        QTest::newRow("no reply") << sample("ping-no-reply.txt") << "0 Ms";
        QTest::newRow("nothing printed: label kept") << "" << "";
    }
    void pingReading()
    {
        QFETCH(QString, output);
        QFETCH(QString, shown);
        QCOMPARE(parseTestPing(output), shown);
    }

    void verdictAndAddress_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::newRow("not connected") << false;
        QTest::newRow("connected") << true;
    }
    void verdictAndAddress()
    {
        QFETCH(bool, connected);
        User::instance()->setBundles({IPBundle::fromJson(
            QJsonObject{{"ip_id", 4}, {"ip", "10.0.0.1:443"}, {"type", 2}, {"countryName", "Lab"}})});
        // The tunnel's state as every page learns it: from the controller.
        ConnectPage connectPage;
        emit OpenConnectConnection::instance()->statusChanged(connected ? OpenConnectConnection::Connected
                                                                        : OpenConnectConnection::Disconnected);
        QTRY_COMPARE(Config::instance()->connectionState(), connected);

        ToolsPage page;
        page.show();
        QCOMPARE(text(&page, "lblrisk"), QStringLiteral("Not tested yet"));
        press(page);
        QCOMPARE(text(&page, "lblrisk"), connected ? QStringLiteral("Secured") : QStringLiteral("Risk"));
        QCOMPARE(text(&page, "lblIP"), connected ? QStringLiteral("10.0.0.1") : localIpv4());
        QVERIFY(child<QPushButton>(&page, "btnTest")->isEnabled());
        QCOMPARE(child<QPushButton>(&page, "btnTest")->text(), QStringLiteral("Test Your Network"));
        QVERIFY(text(&page, "lblPing").endsWith(QLatin1String(" Ms")));
        QTRY_COMPARE(Config::instance()->loadState(), qMakePair(4, 0));
        emit OpenConnectConnection::instance()->statusChanged(OpenConnectConnection::Disconnected);
        QTRY_VERIFY(!Config::instance()->connectionState());
    }

    void probesGiveRates()
    {
        ToolsPage page;
        page.show();
        press(page);
        QTRY_VERIFY_WITH_TIMEOUT(text(&page, "lblDwnload") != QLatin1String("00.00 Mbps"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(text(&page, "lblUpload") != QLatin1String("00.00 Mbps"), 10000);
        for (const char *label : {"lblDwnload", "lblUpload"})
            QVERIFY2(QRegularExpression(QStringLiteral("^\\d+\\.\\d\\d (Bytes|KB|MB|GB)$")).match(text(&page, label)).hasMatch(),
                     qPrintable(text(&page, label)));
        QCOMPARE(m_backend.count(QLatin1String(WebPages::kDownloadProbePath)), 1);
        QCOMPARE(m_backend.last(QLatin1String(WebPages::kUploadProbePath)).value("body").toString(),
                 QStringLiteral("This is the data to upload."));
    }

    void failedProbesKeepTheirLabels()
    {
        useProbesAt(closedBase());
        ToolsPage page;
        page.show();
        const int mark = ClientSandbox::logMark();
        press(page);
        QTRY_COMPARE_WITH_TIMEOUT(ClientSandbox::logSince(mark).filter(QStringLiteral("Network test: ")).size(), 2,
                                  10000);
        QCOMPARE((QStringList{text(&page, "lblDwnload"), text(&page, "lblUpload")}),
                 (QStringList{"00.00 Mbps", "00.00 Mbps"}));
    }

    // The first press's download is held back: the second press's reply
    // comes first, and the late one has the last word.
    void latePrecedingRepliesOverwrite()
    {
        QVERIFY(m_backend.setFault(QLatin1String(WebPages::kDownloadProbePath), QStringLiteral("delay"), 800, 1));
        ToolsPage page;
        page.show();
        QStringList seen;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            const QString now = text(&page, "lblDwnload");
            if (seen.isEmpty() || seen.constLast() != now)
                seen << now;
        });
        watch.start(5);
        press(page);
        press(page);
        QTRY_COMPARE_WITH_TIMEOUT(m_backend.count(QLatin1String(WebPages::kDownloadProbePath)), 2, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 3, 10000);
        // The held-back reply took over 800 ms for the same bytes: the lower rate, shown last.
        const auto bytes = [](const QString &rate) {
            const QStringList parts = rate.split(' ');
            const int unit = QStringList{"Bytes", "KB", "MB", "GB"}.indexOf(parts.value(1));
            return parts.value(0).toDouble() * std::pow(1000.0, unit);
        };
        QVERIFY2(bytes(seen.at(2)) < bytes(seen.at(1)), qPrintable(seen.join(" | ")));
        QVERIFY(bytes(seen.at(2)) < WebPages::kDownloadProbeBytes / 0.8 + 1);
    }
};

QTEST_MAIN(ToolsPageTest)
#include "tst_toolspage.moc"
