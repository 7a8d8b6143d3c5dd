#include "common/art/rasteriser.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using Varnel::Art::Layer;
using Varnel::Art::Rasteriser;

namespace {

// A 10 x 10 drawing: a full square of one colour, or a small marker at the top middle.
QByteArray square(const char *colour)
{
    return QByteArray("<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 10 10'><rect width='10' "
                      "height='10' fill='")
        + colour + "'/></svg>";
}

const QByteArray topMarker = "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 10 10'>"
                             "<rect x='4' y='0' width='2' height='2' fill='#0000FF'/></svg>";

Layer parseLayer(const QString &text)
{
    Layer layer;
    QString error;
    if (!Layer::parse(text, &layer, &error))
        qFatal("bad layer in test: %s", qPrintable(error));
    return layer;
}

bool isColour(const QImage &image, int x, int y, QRgb rgb)
{
    const QRgb p = image.pixel(x, y);
    return qAlpha(p) == 255 && (p & 0xFFFFFF) == (rgb & 0xFFFFFF);
}

} // namespace

class TestRasterise : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void parsesLayers_data();
    void parsesLayers();
    void recolourSwapsAllAtOnce();
    void composesScaledLayersBottomFirst();
    void rotatesAboutTheCentre();
    void reportsBadInput();
    void flattensOntoMatte();
    void commandLineWritesThePicture_data();
    void commandLineWritesThePicture();

private:
    void write(const QString &name, const QByteArray &content);
    QTemporaryDir m_dir;
};

void TestRasterise::write(const QString &name, const QByteArray &content)
{
    QFile file(m_dir.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

void TestRasterise::initTestCase()
{
    QVERIFY(m_dir.isValid());
    write(QStringLiteral("red.svg"), square("#FF0000"));
    write(QStringLiteral("green.svg"), square("#00FF00"));
    write(QStringLiteral("marker.svg"), topMarker);
    write(QStringLiteral("tall.svg"),
          "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 10 20'><rect width='10' height='20'/></svg>");
    write(QStringLiteral("broken.svg"), "<svg this is not xml");
}

void TestRasterise::parsesLayers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("file only") << "disc.svg" << true;
    QTest::newRow("all options") << "  disc.svg scale=0.5 rotate=-90 #BF1E2E=#FFFFFF #434343=none " << true;
    QTest::newRow("empty") << "   " << false;
    QTest::newRow("zero scale") << "disc.svg scale=0" << false;
    QTest::newRow("short colour") << "disc.svg #BF1=#FFFFFF" << false;
    QTest::newRow("named colour") << "disc.svg #BF1E2E=red" << false;
    QTest::newRow("unknown option") << "disc.svg bold" << false;
}

void TestRasterise::parsesLayers()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    Layer layer;
    QString error;
    QCOMPARE(Layer::parse(text, &layer, &error), valid);
    QCOMPARE(error.isEmpty(), valid);
    if (QByteArray(QTest::currentDataTag()) == "all options") {
        QCOMPARE(layer.file, QStringLiteral("disc.svg"));
        QCOMPARE(layer.scale, 0.5);
        QCOMPARE(layer.rotation, -90.0);
        QCOMPARE(layer.colours.value(QStringLiteral("#bf1e2e")), QStringLiteral("#ffffff"));
        QCOMPARE(layer.colours.value(QStringLiteral("#434343")), QStringLiteral("none"));
    }
}

void TestRasterise::recolourSwapsAllAtOnce()
{
    const QByteArray svg = "<g fill='#BF1E2E' stroke='#ffffff'><stop stop-color='#bf1e2e'/>"
                           "<path fill='#434343' stroke='#123456'/></g>";
    const Layer layer = parseLayer(QStringLiteral("x.svg #BF1E2E=#FFFFFF #FFFFFF=#BF1E2E #434343=none"));
    QCOMPARE(Varnel::Art::recolour(svg, layer.colours),
             QByteArray("<g fill='#ffffff' stroke='#bf1e2e'><stop stop-color='#ffffff'/>"
                        "<path fill='none' stroke='#123456'/></g>"));
    QCOMPARE(Varnel::Art::recolour(svg, {}), svg);
}

void TestRasterise::composesScaledLayersBottomFirst()
{
    const Rasteriser rasteriser(m_dir.path());
    QString error;
    // Red covers the middle half (10..30); green, on top, the middle quarter (15..25).
    const QImage image = rasteriser.render(
        {parseLayer(QStringLiteral("red.svg scale=0.5")), parseLayer(QStringLiteral("green.svg scale=0.25"))}, QSize(40, 40),
        0.0, &error);
    QVERIFY2(!image.isNull(), qPrintable(error));
    QCOMPARE(image.size(), QSize(40, 40));
    QCOMPARE(image.format(), QImage::Format_ARGB32_Premultiplied);
    QCOMPARE(qAlpha(image.pixel(2, 2)), 0);
    QCOMPARE(qAlpha(image.pixel(9, 20)), 0);
    QVERIFY(isColour(image, 11, 20, 0xFF0000));
    QVERIFY(isColour(image, 14, 20, 0xFF0000));
    QVERIFY(isColour(image, 20, 20, 0x00FF00));
    QVERIFY(isColour(image, 24, 24, 0x00FF00));
    QCOMPARE(qAlpha(image.pixel(31, 31)), 0);

    // Colour swaps apply to their own layer only.
    const QImage swapped = rasteriser.render(
        {parseLayer(QStringLiteral("red.svg #FF0000=#0000FF")), parseLayer(QStringLiteral("red.svg scale=0.5"))},
        QSize(40, 40), 0.0, &error);
    QVERIFY(isColour(swapped, 2, 2, 0x0000FF));
    QVERIFY(isColour(swapped, 20, 20, 0xFF0000));
}

void TestRasterise::rotatesAboutTheCentre()
{
    const Rasteriser rasteriser(m_dir.path());
    QString error;
    const QImage upright = rasteriser.render({parseLayer(QStringLiteral("marker.svg"))}, QSize(40, 40), 0.0, &error);
    QVERIFY(isColour(upright, 20, 3, 0x0000FF));
    QCOMPARE(qAlpha(upright.pixel(36, 20)), 0);

    // A layer's own turn and the extra turn add up: 45 + 45 puts the top marker at the right.
    const QImage turned =
        rasteriser.render({parseLayer(QStringLiteral("marker.svg rotate=45"))}, QSize(40, 40), 45.0, &error);
    QVERIFY2(!turned.isNull(), qPrintable(error));
    QVERIFY(isColour(turned, 36, 20, 0x0000FF));
    QCOMPARE(qAlpha(turned.pixel(20, 3)), 0);
}

void TestRasterise::reportsBadInput()
{
    const Rasteriser rasteriser(m_dir.path());
    const struct {
        QVector<Layer> layers;
        QSize size;
        QString inError;
    } cases[] = {
        {{parseLayer(QStringLiteral("missing.svg"))}, QSize(10, 10), QStringLiteral("missing.svg")},
        {{parseLayer(QStringLiteral("broken.svg"))}, QSize(10, 10), QStringLiteral("broken.svg")},
        {{parseLayer(QStringLiteral("tall.svg"))}, QSize(10, 10), QStringLiteral("tall.svg")},
        {{parseLayer(QStringLiteral("red.svg"))}, QSize(0, 10), QStringLiteral("size")},
        {{}, QSize(10, 10), QStringLiteral("layers")},
    };
    for (const auto &c : cases) {
        QString error;
        QVERIFY(rasteriser.render(c.layers, c.size, 0.0, &error).isNull());
        QVERIFY2(error.contains(c.inError), qPrintable(error));
    }
    // The same tall drawing is fine on a canvas of its own proportions.
    QString error;
    QVERIFY(!rasteriser.render({parseLayer(QStringLiteral("tall.svg"))}, QSize(10, 20), 0.0, &error).isNull());
}

void TestRasterise::flattensOntoMatte()
{
    QImage image(3, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(255, 0, 0, 255));
    image.setPixel(1, 0, qRgba(255, 0, 0, 200)); // mostly covered: kept, edge blended towards the matte
    image.setPixel(2, 0, qRgba(255, 0, 0, 100)); // mostly uncovered: dropped
    Varnel::Art::flattenOntoMatte(&image, QColor(Qt::white));
    QCOMPARE(image.pixel(0, 0), qRgba(255, 0, 0, 255));
    QCOMPARE(image.pixel(1, 0), qRgba(255, 55, 55, 255));
    QCOMPARE(qAlpha(image.pixel(2, 0)), 0);
}

void TestRasterise::commandLineWritesThePicture_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("picture") << "out.png";
    // Read back through Qt's SVG image reader, at the drawing's own size.
    QTest::newRow("drawing") << "out.svg";
}

void TestRasterise::commandLineWritesThePicture()
{
    QFETCH(QString, name);
    const QString out = m_dir.filePath(name);
    QProcess tool;
    tool.start(QStringLiteral(RASTERISE_EXE),
               {QStringLiteral("--dir"), m_dir.path(), out, QStringLiteral("24x24"),
                QStringLiteral("red.svg scale=0.5 #FF0000=#00FF00")});
    QVERIFY(tool.waitForFinished(30000));
    QCOMPARE(tool.exitCode(), 0);
    const QImage image(out);
    QCOMPARE(image.size(), QSize(24, 24));
    QVERIFY(isColour(image, 12, 12, 0x00FF00));
    QCOMPARE(qAlpha(image.pixel(1, 1)), 0);

    tool.start(QStringLiteral(RASTERISE_EXE),
               {QStringLiteral("--dir"), m_dir.path(), out, QStringLiteral("24by24"), QStringLiteral("red.svg")});
    QVERIFY(tool.waitForFinished(30000));
    QCOMPARE(tool.exitCode(), 1);
    QVERIFY(tool.readAllStandardError().contains("24by24"));
}

QTEST_MAIN(TestRasterise)
#include "tst_rasterise.moc"
