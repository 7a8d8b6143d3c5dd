// Build-time tool: composes SVG layers into one PNG of a given size.
// varnel-rasterise [--dir DIR] [--rotate DEG] [--matte COLOUR] <out.png> <WxH> <layer>...
// An output name ending in .svg gets the composition as one SVG drawing instead.

#include "common/art/rasteriser.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QImageWriter>
#include <QRegularExpression>
#include <QTextStream>

namespace {

int fail(const QString &message)
{
    QTextStream(stderr) << "varnel-rasterise: " << message << '\n';
    return 1;
}

bool parseSize(const QString &text, QSize *size)
{
    static const QRegularExpression re(QStringLiteral("^(\\d+)x(\\d+)$"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return false;
    *size = QSize(m.captured(1).toInt(), m.captured(2).toInt());
    return !size->isEmpty();
}

} // namespace

int main(int argc, char *argv[])
{
    // Our drawings carry no text, so painting needs no fonts and hence no GUI
    // application or display; a build step stays independent of the platform plugin.
    QCoreApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Composes SVG layers into a PNG picture."));
    parser.addHelpOption();
    const QCommandLineOption dirOption(QStringLiteral("dir"), QStringLiteral("Folder of the SVG files."),
                                       QStringLiteral("dir"), QStringLiteral("."));
    const QCommandLineOption rotateOption(QStringLiteral("rotate"),
                                          QStringLiteral("Turns every layer clockwise by this many degrees."),
                                          QStringLiteral("degrees"), QStringLiteral("0"));
    const QCommandLineOption matteOption(
        QStringLiteral("matte"), QStringLiteral("Makes transparency one-bit, blending edges over this colour."),
        QStringLiteral("colour"));
    parser.addOptions({dirOption, rotateOption, matteOption});
    parser.addPositionalArgument(QStringLiteral("output"), QStringLiteral("PNG file to write."));
    parser.addPositionalArgument(QStringLiteral("size"), QStringLiteral("Width x height, e.g. 96x96."));
    parser.addPositionalArgument(QStringLiteral("layers"),
                                 QStringLiteral("\"file.svg [scale=N] [rotate=DEG] [#RRGGBB=#RRGGBB]...\""),
                                 QStringLiteral("<layer>..."));
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    if (args.size() < 3)
        return fail(QStringLiteral("need an output file, a size and at least one layer"));
    QSize size;
    if (!parseSize(args.at(1), &size))
        return fail(QStringLiteral("bad size \"%1\"").arg(args.at(1)));
    bool rotationOk = false;
    const qreal rotation = parser.value(rotateOption).toDouble(&rotationOk);
    if (!rotationOk)
        return fail(QStringLiteral("bad rotation \"%1\"").arg(parser.value(rotateOption)));

    QVector<Varnel::Art::Layer> layers;
    QString error;
    for (int i = 2; i < args.size(); ++i) {
        Varnel::Art::Layer layer;
        if (!Varnel::Art::Layer::parse(args.at(i), &layer, &error))
            return fail(error);
        layers.append(layer);
    }

    const Varnel::Art::Rasteriser rasteriser(parser.value(dirOption));
    if (args.at(0).endsWith(QLatin1String(".svg"))) {
        if (parser.isSet(rotateOption) || parser.isSet(matteOption))
            return fail(QStringLiteral("an SVG drawing takes neither --rotate nor --matte"));
        return rasteriser.writeSvg(args.at(0), layers, size, &error) ? 0 : fail(error);
    }
    QImage image = rasteriser.render(layers, size, rotation, &error);
    if (image.isNull())
        return fail(error);
    if (parser.isSet(matteOption)) {
        const QColor matte(parser.value(matteOption));
        if (!matte.isValid())
            return fail(QStringLiteral("bad matte colour \"%1\"").arg(parser.value(matteOption)));
        Varnel::Art::flattenOntoMatte(&image, matte);
    }

    QImageWriter writer(args.at(0), "png");
    if (!writer.write(image))
        return fail(QStringLiteral("cannot write %1: %2").arg(args.at(0), writer.errorString()));
    return 0;
}
