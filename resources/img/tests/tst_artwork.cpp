// Checks the compiled-in pictures against the list they are built from, and
// the drawings the client draws them from at run time.

#include "common/art/catalogue.h"

#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

namespace {

struct Listed {
    QString name;
    QSize size;
    int frames = 0;
};

QVector<Listed> readManifest()
{
    QVector<Listed> result;
    QFile file(QStringLiteral(ARTWORK_MANIFEST));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return result;
    static const QRegularExpression row(
        QStringLiteral("^([^|#]+)\\|[^|]+\\|\\s*(\\d+)x(\\d+)\\s*(?:\\|\\s*(\\d+)\\s*)?$"));
    while (!file.atEnd()) {
        const QRegularExpressionMatch m = row.match(QString::fromUtf8(file.readLine()).trimmed());
        if (m.hasMatch())
            result.append({m.captured(1).trimmed(), QSize(m.captured(2).toInt(), m.captured(3).toInt()),
                           m.captured(4).toInt()});
    }
    return result;
}

bool isWindowBackground(const QString &name)
{
    return name == QLatin1String("white_background.png") || name == QLatin1String("background.png");
}

} // namespace

class TestArtwork : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyListedPictureIsCompiledIn();
    void picturesHaveTheirListedSize();
    void spinnerTurnsOncePerSecondForever();
    void transparencyFitsWherePicturesSit();
    void drawnAtRunTimeAsAtBuildTime();

private:
    QVector<Listed> m_listed;
};

void TestArtwork::initTestCase()
{
    m_listed = readManifest();
    QVERIFY2(m_listed.size() >= 52, "the picture list could not be read");
}

static QString twiceAsLarge(const QString &name)
{
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return name.left(dot) + QStringLiteral("@2x") + name.mid(dot);
}

void TestArtwork::everyListedPictureIsCompiledIn()
{
    QSet<QString> listed;
    for (const Listed &l : m_listed)
        listed << l.name << twiceAsLarge(l.name);
    QSet<QString> compiled;
    QDirIterator it(QStringLiteral(":/img"), QDir::Files);
    while (it.hasNext()) {
        it.next();
        compiled.insert(it.fileName());
    }
    // Names with blanks ("app crash.png") must survive the build unchanged.
    QVERIFY(compiled.contains(QStringLiteral("app crash.png")));
    QCOMPARE(compiled, listed);
}

void TestArtwork::picturesHaveTheirListedSize()
{
    for (const Listed &l : m_listed) {
        for (const auto &[name, size] : {qMakePair(l.name, l.size), qMakePair(twiceAsLarge(l.name), l.size * 2)}) {
            QImageReader reader(QStringLiteral(":/img/") + name);
            const QImage image = reader.read();
            QVERIFY2(!image.isNull(), qPrintable(name + QStringLiteral(": ") + reader.errorString()));
            QVERIFY2(image.size() == size, qPrintable(name));
        }
    }
}

void TestArtwork::spinnerTurnsOncePerSecondForever()
{
    QImageReader reader(QStringLiteral(":/img/Spinner-1s-50px.gif"));
    QVERIFY(reader.supportsAnimation());
    QVERIFY(reader.imageCount() > 1);
    QCOMPARE(reader.loopCount(), -1);
    QVector<QImage> frames;
    int duration = 0;
    while (reader.canRead()) {
        frames.append(reader.read().convertToFormat(QImage::Format_ARGB32));
        duration += reader.nextImageDelay();
    }
    QCOMPARE(frames.size(), reader.imageCount());
    QCOMPARE(duration, 1000);
    for (int i = 1; i < frames.size(); ++i)
        QVERIFY2(frames.at(i) != frames.at(i - 1), "consecutive frames are identical");
    // Transparent around the ring, so it works on any page background.
    for (const QImage &frame : frames)
        QCOMPARE(qAlpha(frame.pixel(0, 0)), 0);
}

void TestArtwork::transparencyFitsWherePicturesSit()
{
    for (const Listed &l : m_listed) {
        const QImage image = QImage(QStringLiteral(":/img/") + l.name).convertToFormat(QImage::Format_ARGB32);
        const int r = image.width() - 1, b = image.height() - 1;
        const int corners[4] = {qAlpha(image.pixel(0, 0)), qAlpha(image.pixel(r, 0)), qAlpha(image.pixel(0, b)),
                                qAlpha(image.pixel(r, b))};
        if (isWindowBackground(l.name)) {
            // A window brush with holes would show whatever lies beneath the window.
            for (int y = 0; y <= b; ++y)
                for (int x = 0; x <= r; ++x)
                    QVERIFY2(qAlpha(image.pixel(x, y)) == 255, qPrintable(l.name));
        } else if (l.name == QLatin1String("backround.png")) {
            // The side panel is opaque where it meets the window edge and rounded on its open side.
            QCOMPARE(corners[0], 255);
            QCOMPARE(corners[2], 255);
            QCOMPARE(corners[1], 0);
            QCOMPARE(corners[3], 0);
        } else {
            // Icons sit on white, grey and red backgrounds alike.
            for (int alpha : corners)
                QVERIFY2(alpha == 0, qPrintable(l.name));
        }
    }
}

// The client draws its pictures from the compiled-in drawings and list; at the
// listed size they come out as the build rasterised them.
void TestArtwork::drawnAtRunTimeAsAtBuildTime()
{
    const Varnel::Art::Catalogue &catalogue = Varnel::Art::Catalogue::compiledIn();
    for (const Listed &l : m_listed) {
        const Varnel::Art::Catalogue::Entry *entry = catalogue.find(l.name);
        QVERIFY2(entry, qPrintable(l.name));
        QCOMPARE(entry->size, l.size);
        if (l.frames > 0)
            continue;
        QVERIFY2(catalogue.render(*entry, l.size).convertToFormat(QImage::Format_ARGB32)
                     == QImage(QStringLiteral(":/img/") + l.name).convertToFormat(QImage::Format_ARGB32),
                 qPrintable(l.name));
    }
}

QTEST_MAIN(TestArtwork)
#include "tst_artwork.moc"
