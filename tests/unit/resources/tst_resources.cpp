#include "app/fonts.h"
#include "common/iconnames.h"

#include <QApplication>
#include <QDirIterator>
#include <QFontDatabase>
#include <QImage>
#include <QLabel>
#include <QPixmap>
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

    // Start-up registers the faces in order and stops at the first that fails.
    void fontRegistration()
    {
        const QStringList faces = Varnel::montserratFonts();
        const QString missing = QStringLiteral(":/fonts/fonts/Montserrat-Missing.ttf");
        QCOMPARE(Varnel::registerFonts({faces.first(), missing, faces.last()}), 1);
        QCOMPARE(Varnel::registerFonts(faces), 18);
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
    }

    static void checkFont(const QString &path)
    {
        const int id = QFontDatabase::addApplicationFont(path);
        QVERIFY(QFontDatabase::applicationFontFamilies(id).contains(QStringLiteral("Montserrat")));
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
