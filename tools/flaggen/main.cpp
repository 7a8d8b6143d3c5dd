// Builds the flag resources: one small PNG per name of the flag table, scaled
// from Debian's iso-flags pictures (looked up through iso-codes), another at
// twice the size ("<name>@2x.png", for screens of pixel ratio 2), and the .qrc
// that compiles them in under ":/flags/flags/".

#include "common/iconnames.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSaveFile>
#include <QTextStream>

namespace {

const QSize kFlagSize(64, 48);

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

// ISO 3166-1 numeric code -> lower-case alpha-2, as the picture files are named.
bool readAlpha2Codes(const QString &jsonPath, QHash<int, QString> *codes)
{
    QFile file(jsonPath);
    if (!file.open(QIODevice::ReadOnly)) {
        err() << "flaggen: cannot read " << jsonPath << ": " << file.errorString() << Qt::endl;
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    const QJsonArray entries = doc.object().value(QStringLiteral("3166-1")).toArray();
    if (doc.isNull() || entries.isEmpty()) {
        err() << "flaggen: " << jsonPath << " holds no ISO 3166-1 list ("
              << parseError.errorString() << ")" << Qt::endl;
        return false;
    }
    for (const QJsonValue &value : entries) {
        const QJsonObject entry = value.toObject();
        bool ok = false;
        const int numeric = entry.value(QStringLiteral("numeric")).toString().toInt(&ok, 10);
        const QString alpha2 = entry.value(QStringLiteral("alpha_2")).toString().toLower();
        if (ok && !alpha2.isEmpty())
            codes->insert(numeric, alpha2);
    }
    return true;
}

// Scales smoothly and re-creates the image from its pixels alone, so that no
// text chunks or other metadata of the source file reach the output.
bool writeFlag(const QString &source, const QString &target, const QSize &size)
{
    const QImage picture(source);
    if (picture.isNull()) {
        err() << "flaggen: cannot load " << source << Qt::endl;
        return false;
    }
    const QImage scaled = picture.convertToFormat(QImage::Format_ARGB32)
                              .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage bare = QImage(scaled.constBits(), scaled.width(), scaled.height(),
                               scaled.bytesPerLine(), scaled.format()).copy();

    QImageWriter writer(target, "png");
    writer.setQuality(0); // for PNG: the strongest (still lossless) compression
    if (!writer.write(bare)) {
        err() << "flaggen: cannot write " << target << ": " << writer.errorString() << Qt::endl;
        return false;
    }
    return true;
}

bool writeQrc(const QStringList &files, const QString &qrcPath)
{
    QSaveFile file(qrcPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        err() << "flaggen: cannot write " << qrcPath << Qt::endl;
        return false;
    }
    QTextStream out(&file);
    out << "<RCC>\n    <qresource prefix=\"/flags\">\n";
    for (const QString &name : files)
        out << "        <file>flags/" << name << "</file>\n";
    out << "    </qresource>\n</RCC>\n";
    out.flush();
    return file.commit();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varnel-flaggen"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes <out>/flags/flag_<name>.png for every flag name and <out>/flags.qrc."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("iso-json"), QStringLiteral("iso_3166-1.json of iso-codes"));
    parser.addPositionalArgument(QStringLiteral("pictures"), QStringLiteral("directory of <alpha2>.png flags"));
    parser.addPositionalArgument(QStringLiteral("out"), QStringLiteral("output directory"));
    parser.process(app);
    const QStringList args = parser.positionalArguments();
    if (args.size() != 3)
        parser.showHelp(2);

    QHash<int, QString> alpha2;
    if (!readAlpha2Codes(args.at(0), &alpha2))
        return 1;

    // Name -> picture. Rows sharing a name write one file; the later row wins,
    // because the table lists a shared name under its own country last
    // (175, Mayotte, borrows the name of the Congo, 178).
    const QDir pictures(args.at(1));
    QMap<QString, QString> sources;
    QStringList missing;
    for (const Varnel::FlagEntry &entry : Varnel::flagTable()) {
        const QString picture = pictures.filePath(alpha2.value(entry.code) + QStringLiteral(".png"));
        if (!alpha2.contains(entry.code) || !QFile::exists(picture)) {
            missing << QStringLiteral("%1 (%2)").arg(entry.code).arg(QLatin1String(entry.name));
            continue;
        }
        sources.insert(Varnel::flagName(entry.code) + QStringLiteral(".png"), picture);
    }
    if (!missing.isEmpty()) {
        err() << "flaggen: no flag picture for code(s) " << missing.join(QStringLiteral(", "))
              << " in " << pictures.path() << Qt::endl;
        return 1;
    }

    QDir out(args.at(2));
    if (!out.mkpath(QStringLiteral("flags"))) {
        err() << "flaggen: cannot create " << out.filePath(QStringLiteral("flags")) << Qt::endl;
        return 1;
    }
    QStringList files;
    for (auto it = sources.cbegin(); it != sources.cend(); ++it) {
        QString larger = it.key();
        larger.insert(larger.size() - 4, QStringLiteral("@2x"));
        if (!writeFlag(it.value(), out.filePath(QStringLiteral("flags/") + it.key()), kFlagSize)
            || !writeFlag(it.value(), out.filePath(QStringLiteral("flags/") + larger), kFlagSize * 2))
            return 1;
        files << it.key() << larger;
    }
    return writeQrc(files, out.filePath(QStringLiteral("flags.qrc"))) ? 0 : 1;
}
