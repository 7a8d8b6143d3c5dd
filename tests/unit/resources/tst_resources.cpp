#include "common/iconnames.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QRawFont>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

// Stand-ins with the class names the style sheet selects on (type selectors
// match the meta-object's class name), so the namespaced rules can be checked.
namespace Varnel {
class SettingPage : public QWidget
{
    Q_OBJECT
};
} // namespace Varnel

namespace {

const QStringList fontStyles = {"Black",        "BlackItalic", "Bold",        "BoldItalic",       "ExtraBold",
                                 "ExtraBoldItalic", "ExtraLight", "ExtraLightItalic", "Italic",    "Light",
                                 "LightItalic",  "Medium",      "MediumItalic", "Regular",          "SemiBold",
                                 "SemiBoldItalic", "Thin",      "ThinItalic"};

QString fontPath(const QString &style)
{
    return QStringLiteral(":/fonts/fonts/Montserrat-%1.ttf").arg(style);
}

QStringList messages;

void collectMessages(QtMsgType, const QMessageLogContext &, const QString &text)
{
    messages << text;
}

QString readResource(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void pictureLoads_data()
    {
        QTest::addColumn<QString>("path");
        for (const char *name : {"0", "1", "200", "Star", "ad_blocker_server", "app crash", "arrow", "auto connect",
                                 "back", "background", "backround", "connect_button", "connected", "connecting",
                                 "cross", "disconnected", "favourit-server", "favourit", "gamming-server",
                                 "gamming_white", "general", "greenDownload", "greenPing", "greenUpload",
                                 "high-speed-server", "ip-icon", "ip-icons", "ip", "kill switch", "location icon",
                                 "lock", "logo", "menu-hot-dog", "my account card", "my account free",
                                 "my account premium", "network protection", "no notifications", "not-protected",
                                 "protected", "protocol", "search", "streamming-server", "streamming_white", "test",
                                 "toolsDownload", "toolsping", "toolsupload", "varnel-vpn-logo", "varnel-white-logo",
                                 "white_background"})
            QTest::newRow(name) << QStringLiteral(":/img/%1.png").arg(QLatin1String(name));
        QTest::newRow("spinner") << QStringLiteral(":/img/Spinner-1s-50px.gif");   // its frames: tst_artwork
    }

    void pictureLoads()
    {
        QFETCH(QString, path);
        const QPixmap picture(path);
        QVERIFY2(!picture.isNull(), qPrintable(path));
        QVERIFY(picture.width() > 1 && picture.height() > 1);
    }

    // Each face registers as Montserrat. Catches a face vendored under the wrong
    // name: the file's own style name and italic flag must match its name, and
    // weights must rise along the scale.
    void fontFilesHoldTheirNamedFaces()
    {
        static const QRegularExpression wordBeforeItalic(QStringLiteral("(.)Italic$"));
        QHash<QString, int> weight;
        for (const QString &style : fontStyles) {
            const int id = QFontDatabase::addApplicationFont(fontPath(style));
            QVERIFY2(QFontDatabase::applicationFontFamilies(id).contains(QStringLiteral("Montserrat")),
                     qPrintable(fontPath(style)));
            QFile file(fontPath(style));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QRawFont face(file.readAll(), 12);
            QVERIFY2(face.isValid(), qPrintable(style));
            QString expected = style;
            expected.replace(wordBeforeItalic, QStringLiteral("\\1 Italic"));
            QCOMPARE(face.styleName(), expected);
            QCOMPARE(face.style() == QFont::StyleItalic, style.endsWith(QLatin1String("Italic")));
            // usWeightClass of the OS/2 table, big-endian at offset 4.
            const QByteArray os2 = face.fontTable("OS/2");
            QVERIFY(os2.size() > 6);
            weight.insert(style, (quint8(os2.at(4)) << 8) | quint8(os2.at(5)));
        }
        const QStringList scale = {"Thin", "ExtraLight", "Light", "Regular", "Medium", "SemiBold", "Bold",
                                   "ExtraBold", "Black"};
        QCOMPARE(QFontDatabase().styles(QStringLiteral("Montserrat")).size(), fontStyles.size());
        // Thin and ExtraLight carry the same weight in these files; the rest rise strictly.
        QVERIFY(weight.value(scale.at(0)) <= weight.value(scale.at(1)));
        for (int i = 2; i < scale.size(); ++i)
            QVERIFY2(weight.value(scale.at(i - 1)) < weight.value(scale.at(i)), qPrintable(scale.at(i)));
    }

    void styleSheetParsesAndApplies()
    {
        const QString sheet = readResource(QStringLiteral(":/style/style.qss"));
        QVERIFY(!sheet.trimmed().isEmpty());
        for (const QString &style : fontStyles)
            QFontDatabase::addApplicationFont(fontPath(style));

        // A syntax error drops the whole sheet with only a warning; catch that.
        messages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectMessages);
        qApp->setStyleSheet(sheet);

        QWidget server;
        Varnel::SettingPage settings;
        QLabel title(QStringLiteral("Server List"), &server);
        title.setObjectName(QStringLiteral("lblServer"));
        QLineEdit search(&server);
        search.setObjectName(QStringLiteral("editSearch"));
        QLabel heading(QStringLiteral("Settings"), &settings);
        heading.setObjectName(QStringLiteral("label_2"));
        server.ensurePolished();
        QList<QFont> fonts;
        for (QWidget *widget : QList<QWidget *>{&title, &search, &heading}) {
            widget->ensurePolished();
            fonts << widget->font();
        }
        qInstallMessageHandler(previous);
        qApp->setStyleSheet(QString());
        QVERIFY2(messages.filter(QStringLiteral("parse"), Qt::CaseInsensitive).isEmpty(),
                 qPrintable(messages.join(QLatin1Char('\n'))));

        QCOMPARE((QList<int>{fonts[0].pixelSize(), fonts[1].pixelSize(), fonts[2].pixelSize()}),
                 (QList<int>{18, 14, 24}));
        QCOMPARE(QFontInfo(fonts[0]).family(), QStringLiteral("Montserrat Medium"));
        QCOMPARE(QFontInfo(fonts[1]).styleName(), QStringLiteral("SemiBold"));
    }

    // Start-up turns 16 px into 14 px, 24 px into 22 px and every numeric weight
    // into 500; the sheet is written in the sizes and weights that rewrite expects.
    void styleSheetGivesTheRewriteWork()
    {
        QString compact = readResource(QStringLiteral(":/style/style.qss"));
        compact.remove(QRegularExpression(QStringLiteral("\\s")));
        QVERIFY(compact.contains(QLatin1String("font-size:16px")));
        QVERIFY(compact.contains(QLatin1String("font-size:24px")));

        QSet<int> weights;
        QRegularExpressionMatchIterator it =
            QRegularExpression(QStringLiteral("font-weight:(\\d+)([;}]?)")).globalMatch(compact);
        while (it.hasNext()) {
            const QRegularExpressionMatch match = it.next();
            // The rewrite only finds weights closed by ";".
            QCOMPARE(match.captured(2), QStringLiteral(";"));
            weights.insert(match.captured(1).toInt());
        }
        QVERIFY(weights.size() > 1);
        // Three-digit weights only: the rewrite replaces text, so a short weight
        // such as 50 would also hit the first digits of 500.
        for (int weight : qAsConst(weights))
            QVERIFY2(weight >= 100 && weight <= 900, qPrintable(QString::number(weight)));
    }

    void flagsResolveForEveryCode()
    {
        for (const Varnel::FlagEntry &entry : Varnel::flagTable()) {
            const QPixmap flag(Varnel::iconPath(entry.code));
            QVERIFY2(!flag.isNull(), qPrintable(Varnel::iconPath(entry.code)));
            QCOMPARE(flag.size(), QSize(64, 48));
        }
        using Varnel::iconPath;
        QCOMPARE((QStringList{iconPath(-1), iconPath(1000), iconPath(1001), iconPath(1002), iconPath(1003),
                              iconPath(1004), iconPath(50), iconPath(175), iconPath(999)}),
                 (QStringList{":/img/logo.png", ":/img/favourit-server.png", ":/img/gamming-server.png",
                              ":/img/high-speed-server.png", ":/img/streamming-server.png",
                              ":/img/ad_blocker_server.png", ":/flags/flags/flag_bangladesh", iconPath(178),
                              ":/flags/flags/"}));
        QVERIFY(QPixmap(iconPath(999)).isNull());
        QVERIFY(QPixmap(iconPath(0)).isNull());
    }

    void flagsAreSmallBareAndComplete()
    {
        QSet<QString> expected;
        for (const Varnel::FlagEntry &entry : Varnel::flagTable())
            expected << Varnel::flagName(entry.code) + QStringLiteral(".png")
                     << Varnel::flagName(entry.code) + QStringLiteral("@2x.png");

        const QDir dir(QStringLiteral(":/flags/flags"));
        const QStringList files = dir.entryList(QDir::Files);
        QCOMPARE(QSet<QString>(files.cbegin(), files.cend()), expected);

        qint64 total = 0;
        for (const QString &name : files) {
            QFile file(dir.filePath(name));
            total += file.size();
            const QImage flag(dir.filePath(name));
            QVERIFY2(flag.textKeys().isEmpty(), qPrintable(name + flag.textKeys().join(QLatin1Char(','))));
        }
        // Each flag at two sizes (pixel ratios 1 and 2).
        QVERIFY2(total < 2 * 1024 * 1024, qPrintable(QString::number(total)));
    }

    // 175 (Mayotte) shares the Congo's name in the table; the file must show the
    // Congo's flag (green upper-left field), not Mayotte's French tricolour.
    void sharedCongoNameShowsTheCongo()
    {
        const QColor upperLeft = QImage(Varnel::iconPath(178)).pixelColor(16, 14);
        QVERIFY2(upperLeft.green() > upperLeft.red() && upperLeft.green() > upperLeft.blue(),
                 qPrintable(upperLeft.name()));
    }

    void callingCodeRows()
    {
        const QString text = readResource(QStringLiteral(":/misc/country_calling_code_map.txt"));
        QStringList rows = text.split(QLatin1Char('\n'));
        if (rows.last().isEmpty())
            rows.removeLast();
        QCOMPARE(rows.size(), 238);

        static const QRegularExpression row(QStringLiteral("^\"((?:[^\"]|\"\")+)\", (\\d+)$"));
        QHash<QString, int> codes;
        QStringList withoutCode;
        for (const QString &line : qAsConst(rows)) {
            const QRegularExpressionMatch match = row.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            const QString name = match.captured(1).remove(QLatin1Char('"'));
            QVERIFY2(!codes.contains(name), qPrintable(name));
            codes.insert(name, match.captured(2).toInt());
            if (codes.value(name) == 0)
                withoutCode << name;
        }
        QCOMPARE(rows.first(), QStringLiteral("\"Afghanistan\", 93"));
        QCOMPARE(rows.last(), QStringLiteral("\"Zimbabwe\", 263"));
        QVERIFY(rows.contains(QStringLiteral("\"CoteD\"\"Ivoire\", 225")));
        QVERIFY(rows.contains(QStringLiteral("\"LaoPeople\"\"sDemocraticRepublic\", 856")));
        QCOMPARE(codes.value(QStringLiteral("CoteDIvoire")), 225);
        QCOMPARE(codes.value(QStringLiteral("UnitedKingdom")), 44);
        QCOMPARE(withoutCode.size(), 6);
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TestResources test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_resources.moc"
