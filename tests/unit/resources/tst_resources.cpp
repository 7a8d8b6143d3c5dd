#include "common/iconnames.h"

#include <QApplication>
#include <QDirIterator>
#include <QFontDatabase>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QRawFont>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

namespace {

QStringList messages;

void collectMessages(QtMsgType, const QMessageLogContext &, const QString &text)
{
    messages << text;
}

QString readResource(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

// Every resource the application ships, one row each, checked by its kind.
class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void resource_data()
    {
        QTest::addColumn<QString>("path");
        // Everything compiled in loads (that the listed pictures are there: tst_artwork).
        QStringList paths;
        for (const char *folder : {":/img", ":/flags", ":/fonts", ":/style", ":/misc"}) {
            QDirIterator it(QLatin1String(folder), QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext())
                paths << it.next();
        }
        paths.sort();   // fonts before the style sheet that uses them
        for (const QString &path : qAsConst(paths))
            QTest::newRow(qPrintable(path)) << path;
    }

    void resource()
    {
        QFETCH(QString, path);
        if (path.endsWith(QLatin1String(".ttf")))
            checkFont(path);
        else if (path.endsWith(QLatin1String(".qss")))
            checkStyleSheet(path);
        else if (path.endsWith(QLatin1String(".txt")))
            checkCallingCodes(path);
        else
            checkPicture(path);
    }

    void iconPaths()
    {
        QSet<QString> expected;
        for (const Varnel::FlagEntry &entry : Varnel::flagTable()) {
            QCOMPARE(QPixmap(Varnel::iconPath(entry.code)).size(), QSize(64, 48));
            expected << Varnel::flagName(entry.code) + ".png" << Varnel::flagName(entry.code) + "@2x.png";
        }
        const QStringList files = QDir(QStringLiteral(":/flags/flags")).entryList(QDir::Files);
        QCOMPARE(QSet<QString>(files.cbegin(), files.cend()), expected);
        using Varnel::iconPath;
        QCOMPARE((QStringList{iconPath(-1), iconPath(1000), iconPath(1001), iconPath(1002), iconPath(1003),
                              iconPath(1004), iconPath(50), iconPath(175), iconPath(999)}),
                 (QStringList{":/img/logo.png", ":/img/favourit-server.png", ":/img/gamming-server.png",
                              ":/img/high-speed-server.png", ":/img/streamming-server.png",
                              ":/img/ad_blocker_server.png", ":/flags/flags/flag_bangladesh", iconPath(178),
                              ":/flags/flags/"}));
    }

private:
    static void checkPicture(const QString &path)
    {
        const QImage picture(path);
        QVERIFY(picture.width() > 1 && picture.height() > 1);
        // Flags carry no metadata (they are many, and small).
        if (path.startsWith(QLatin1String(":/flags/")))
            QVERIFY2(picture.textKeys().isEmpty(), qPrintable(picture.textKeys().join(QLatin1Char(','))));
    }

    // Each face registers as Montserrat, and the file's own style name and
    // italic flag match its name (a face vendored under the wrong name).
    static void checkFont(const QString &path)
    {
        const int id = QFontDatabase::addApplicationFont(path);
        QVERIFY(QFontDatabase::applicationFontFamilies(id).contains(QStringLiteral("Montserrat")));
        const QString style = QFileInfo(path).baseName().section(QLatin1Char('-'), 1);
        const QRawFont face(path, 12);
        QCOMPARE(face.styleName(), QString(style).replace(QRegularExpression("(.)Italic$"), "\\1 Italic"));
    }

    static void checkStyleSheet(const QString &path)
    {
        const QString sheet = readResource(path);
        // A syntax error drops the whole sheet with only a warning; catch that.
        messages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectMessages);
        qApp->setStyleSheet(sheet);
        QLabel label;
        label.ensurePolished();
        qInstallMessageHandler(previous);
        qApp->setStyleSheet(QString());
        QVERIFY2(messages.filter(QStringLiteral("parse"), Qt::CaseInsensitive).isEmpty(),
                 qPrintable(messages.join(QLatin1Char('\n'))));

        // Start-up rewrites 16 px, 24 px and numeric weights as text: the sheet
        // holds those sizes, and only three-digit weights closed by ";" (a
        // short weight such as 50 would also hit the first digits of 500).
        const QString compact = QString(sheet).remove(QRegularExpression(QStringLiteral("\\s")));
        QVERIFY(compact.contains(QLatin1String("font-size:16px")) && compact.contains(QLatin1String("font-size:24px")));
        QRegularExpressionMatchIterator it = QRegularExpression(QStringLiteral("font-weight:(\\d+)([;}]?)")).globalMatch(compact);
        QVERIFY(it.hasNext());
        while (it.hasNext()) {
            const QRegularExpressionMatch match = it.next();
            QVERIFY2(match.captured(1).size() == 3 && match.captured(2) == ";", qPrintable(match.captured()));
        }
    }

    static void checkCallingCodes(const QString &path)
    {
        const QStringList rows = readResource(path).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 238);
        static const QRegularExpression row(QStringLiteral("^\"((?:[^\"]|\"\")+)\", (\\d+)$"));
        QSet<QString> names;
        for (const QString &line : rows) {
            const QRegularExpressionMatch match = row.match(line);
            QVERIFY2(match.hasMatch() && !names.contains(match.captured(1)), qPrintable(line));
            names << match.captured(1);
        }
        QVERIFY(rows.contains(QStringLiteral("\"CoteD\"\"Ivoire\", 225")));
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TestResources test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_resources.moc"
