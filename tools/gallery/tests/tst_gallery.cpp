#include "contactsheet.h"
#include "resourcecatalogue.h"

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using Varnel::Art::CataloguedPicture;
using Varnel::Art::ContactSheet;
using Varnel::Art::cataloguePictures;

namespace {

CataloguedPicture solid(const QString &name, const QSize &size, const QColor &colour)
{
    CataloguedPicture picture;
    picture.name = name;
    picture.image = QImage(size, QImage::Format_ARGB32);
    picture.image.fill(colour);
    picture.size = size;
    return picture;
}

int countPixels(const QImage &image, QRgb rgb)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += (image.pixel(x, y) & 0xFFFFFF) == (rgb & 0xFFFFFF);
    return count;
}

} // namespace

class TestGallery : public QObject
{
    Q_OBJECT

private slots:
    void cataloguesResourceFolders();
    void sheetShowsEveryPictureOnBothTiles();
    void commandLine();
};

void TestGallery::cataloguesResourceFolders()
{
    const QVector<CataloguedPicture> pictures = cataloguePictures(QStringLiteral(":/img"));
    QVERIFY(pictures.size() >= 52);
    for (int i = 0; i < pictures.size(); ++i) {
        QVERIFY2(!pictures.at(i).image.isNull(), qPrintable(pictures.at(i).name));
        if (i > 0)
            QVERIFY(pictures.at(i - 1).name.compare(pictures.at(i).name, Qt::CaseInsensitive) < 0);
    }
    // Animations are counted whole, not only their first frame.
    const auto spinner = std::find_if(pictures.begin(), pictures.end(),
                                      [](const CataloguedPicture &p) { return p.frames > 1; });
    QVERIFY(spinner != pictures.end());
    QVERIFY(spinner->durationMs > 0);

    QVERIFY(cataloguePictures(QStringLiteral(":/no/such/folder")).isEmpty());
}

void TestGallery::sheetShowsEveryPictureOnBothTiles()
{
    // Pure-colour pictures make each drawn copy countable.
    const QColor marker(0, 0, 255);
    ContactSheet few(800);
    few.addSection(QStringLiteral("One"), {solid(QStringLiteral("a.png"), QSize(20, 20), marker)});
    few.addSection(QStringLiteral("Empty"), {});
    const QImage small = few.render();
    QCOMPARE(small.width(), 800);
    QCOMPARE(countPixels(small, marker.rgb()), 2 * 20 * 20);

    QVector<CataloguedPicture> many;
    for (int i = 0; i < 30; ++i)
        many.append(solid(QStringLiteral("p%1.png").arg(i), QSize(40, 30), marker));
    // A wide picture is shown scaled down to fit, keeping its proportions.
    many.append(solid(QStringLiteral("wide.png"), QSize(1080, 740), QColor(0, 255, 0)));
    ContactSheet full(800);
    full.addSection(QStringLiteral("Many"), many);
    const QImage large = full.render();
    QCOMPARE(countPixels(large, marker.rgb()), 30 * 2 * 40 * 30);
    const int wide = countPixels(large, QColor(0, 255, 0).rgb());
    QVERIFY(wide > 0 && wide < 2 * 300 * 210);
    QVERIFY(large.height() > small.height());
}

void TestGallery::commandLine()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString out = dir.filePath(QStringLiteral("sheet.png"));
    QProcess tool;
    tool.start(QStringLiteral(GALLERY_EXE), {out});
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitCode(), 0);
    const QImage sheet(out);
    QVERIFY(!sheet.isNull());
    QCOMPARE(sheet.width(), 1600);

    tool.start(QStringLiteral(GALLERY_EXE), QStringList());
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitCode(), 2);
    QVERIFY(tool.readAllStandardError().contains("usage"));
}

QTEST_MAIN(TestGallery)
#include "tst_gallery.moc"
