#include "common/iconnames.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
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

const QStringList fontStyles = {
    QStringLiteral("Black"),      QStringLiteral("BlackItalic"),  QStringLiteral("Bold"),
    QStringLiteral("BoldItalic"), QStringLiteral("ExtraBold"),    QStringLiteral("ExtraBoldItalic"),
    QStringLiteral("ExtraLight"), QStringLiteral("ExtraLightItalic"), QStringLiteral("Italic"),
    QStringLiteral("Light"),      QStringLiteral("LightItalic"),  QStringLiteral("Medium"),
    QStringLiteral("MediumItalic"), QStringLiteral("Regular"),    QStringLiteral("SemiBold"),
    QStringLiteral("SemiBoldItalic"), QStringLiteral("Thin"),     QStringLiteral("ThinItalic"),
};

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
    void pictureLoads_data();
    void pictureLoads();
    void spinnerIsAnimated();
    void fontFilesHoldTheirNamedFaces();
    void styleSheetParsesAndApplies();
    void styleSheetGivesTheRewriteWork();
    void flagsResolveForEveryCode();
    void flagsAreSmallBareAndComplete();
    void sharedCongoNameShowsTheCongo();
    void callingCodeRows();
};

void TestResources::pictureLoads_data()
{
    QTest::addColumn<QString>("path");
    const char *const pictures[] = {
        ":/img/0.png", ":/img/1.png", ":/img/200.png", ":/img/Star.png",
        ":/img/ad_blocker_server.png", ":/img/app crash.png", ":/img/arrow.png",
        ":/img/auto connect.png", ":/img/back.png", ":/img/background.png",
        ":/img/backround.png", ":/img/connect_button.png", ":/img/connected.png",
        ":/img/connecting.png", ":/img/cross.png", ":/img/disconnected.png",
        ":/img/favourit-server.png", ":/img/favourit.png", ":/img/gamming-server.png",
        ":/img/gamming_white.png", ":/img/general.png", ":/img/greenDownload.png",
        ":/img/greenPing.png", ":/img/greenUpload.png", ":/img/high-speed-server.png",
        ":/img/ip-icon.png", ":/img/ip-icons.png", ":/img/ip.png", ":/img/kill switch.png",
        ":/img/location icon.png", ":/img/lock.png", ":/img/logo.png",
        ":/img/menu-hot-dog.png", ":/img/my account card.png", ":/img/my account free.png",
        ":/img/my account premium.png", ":/img/network protection.png",
        ":/img/no notifications.png", ":/img/not-protected.png", ":/img/protected.png",
        ":/img/protocol.png", ":/img/search.png", ":/img/streamming-server.png",
        ":/img/streamming_white.png", ":/img/test.png", ":/img/toolsDownload.png",
        ":/img/toolsping.png", ":/img/toolsupload.png", ":/img/varnel-vpn-logo.png",
        ":/img/varnel-white-logo.png", ":/img/white_background.png",
    };
    for (const char *path : pictures)
        QTest::newRow(path) << QString::fromLatin1(path);
}

void TestResources::pictureLoads()
{
    QFETCH(QString, path);
    const QPixmap picture(path);
    QVERIFY2(!picture.isNull(), qPrintable(path));
    QVERIFY(picture.width() > 1 && picture.height() > 1);
}

void TestResources::spinnerIsAnimated()
{
    QMovie spinner(QStringLiteral(":/img/Spinner-1s-50px.gif"));
    QVERIFY(spinner.isValid());
    QCOMPARE(spinner.format(), QByteArray("gif"));
    QVERIFY2(spinner.frameCount() > 1, qPrintable(QString::number(spinner.frameCount())));
}

// Each face registers as Montserrat. Catches a face vendored under the wrong
// name: the file's own style name and italic flag must match its name, and
// weights must rise along the scale.
void TestResources::fontFilesHoldTheirNamedFaces()
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
    const QStringList scale = {
        QStringLiteral("Thin"), QStringLiteral("ExtraLight"), QStringLiteral("Light"),
        QStringLiteral("Regular"), QStringLiteral("Medium"), QStringLiteral("SemiBold"),
        QStringLiteral("Bold"), QStringLiteral("ExtraBold"), QStringLiteral("Black"),
    };
    QCOMPARE(QFontDatabase().styles(QStringLiteral("Montserrat")).size(), fontStyles.size());
    // Thin and ExtraLight carry the same weight in these files; the rest rise strictly.
    QVERIFY(weight.value(scale.at(0)) <= weight.value(scale.at(1)));
    for (int i = 2; i < scale.size(); ++i)
        QVERIFY2(weight.value(scale.at(i - 1)) < weight.value(scale.at(i)), qPrintable(scale.at(i)));
}

void TestResources::styleSheetParsesAndApplies()
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
    auto *title = new QLabel(QStringLiteral("Server List"), &server);
    title->setObjectName(QStringLiteral("lblServer"));
    auto *search = new QLineEdit(&server);
    search->setObjectName(QStringLiteral("editSearch"));
    Varnel::SettingPage settings;
    auto *heading = new QLabel(QStringLiteral("Settings"), &settings);
    heading->setObjectName(QStringLiteral("label_2"));
    server.ensurePolished();
    title->ensurePolished();
    search->ensurePolished();
    heading->ensurePolished();

    qInstallMessageHandler(previous);
    const QFont titleFont = title->font();
    const QFont searchFont = search->font();
    const QFont headingFont = heading->font();
    qApp->setStyleSheet(QString());
    QVERIFY2(messages.filter(QStringLiteral("parse"), Qt::CaseInsensitive).isEmpty(),
             qPrintable(messages.join(QLatin1Char('\n'))));

    QCOMPARE(titleFont.pixelSize(), 18);
    QCOMPARE(QFontInfo(titleFont).family(), QStringLiteral("Montserrat Medium"));
    QCOMPARE(searchFont.pixelSize(), 14);
    QCOMPARE(QFontInfo(searchFont).styleName(), QStringLiteral("SemiBold"));
    QCOMPARE(headingFont.pixelSize(), 24);
}

// Start-up turns 16 px into 14 px, 24 px into 22 px and every numeric weight
// into 500; the sheet is written in the sizes and weights that rewrite expects.
void TestResources::styleSheetGivesTheRewriteWork()
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

void TestResources::flagsResolveForEveryCode()
{
    for (const Varnel::FlagEntry &entry : Varnel::flagTable()) {
        const QPixmap flag(Varnel::iconPath(entry.code));
        QVERIFY2(!flag.isNull(), qPrintable(Varnel::iconPath(entry.code)));
        QCOMPARE(flag.size(), QSize(64, 48));
    }
    QCOMPARE(Varnel::iconPath(175), Varnel::iconPath(178));
    QVERIFY(QPixmap(Varnel::iconPath(999)).isNull());
    QVERIFY(QPixmap(Varnel::iconPath(0)).isNull());
}

void TestResources::flagsAreSmallBareAndComplete()
{
    QSet<QString> expected;
    for (const Varnel::FlagEntry &entry : Varnel::flagTable())
        expected.insert(Varnel::flagName(entry.code) + QStringLiteral(".png"));

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
    QVERIFY2(total < 1024 * 1024, qPrintable(QString::number(total)));
}

// 175 (Mayotte) shares the Congo's name in the table; the file must show the
// Congo's flag (green upper-left field), not Mayotte's French tricolour.
void TestResources::sharedCongoNameShowsTheCongo()
{
    const QColor upperLeft = QImage(Varnel::iconPath(178)).pixelColor(16, 14);
    QVERIFY2(upperLeft.green() > upperLeft.red() && upperLeft.green() > upperLeft.blue(),
             qPrintable(upperLeft.name()));
}

void TestResources::callingCodeRows()
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

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TestResources test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_resources.moc"
