// Writes a data file for the reference backend with a large generated server list, for
// benchmarks: the accounts, vouchers and texts come from a base data file.

#include "servergenerator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cstdio>

using namespace Varnel::RefBackend;

namespace {

int fail(const QString &text)
{
    std::fprintf(stderr, "varnel-refbackend-datagen: %s\n", qPrintable(text));
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes a reference-backend data file with N generated servers."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("servers"), QStringLiteral("Number of servers."), QStringLiteral("N"), QStringLiteral("5000")},
        {QStringLiteral("seed"), QStringLiteral("Random seed."), QStringLiteral("S"), QStringLiteral("1")},
        {QStringLiteral("base"), QStringLiteral("Data file whose other members are kept."), QStringLiteral("FILE"),
         QStringLiteral(REFBACKEND_DEMO_DATA)},
        {QStringLiteral("out"), QStringLiteral("File to write."), QStringLiteral("FILE")},
    });
    parser.process(app);

    bool countOk = false;
    bool seedOk = false;
    const int count = parser.value(QStringLiteral("servers")).toInt(&countOk);
    const quint32 seed = parser.value(QStringLiteral("seed")).toUInt(&seedOk);
    if (!countOk || count < 0 || !seedOk)
        return fail(QStringLiteral("--servers and --seed take non-negative whole numbers"));
    if (!parser.isSet(QStringLiteral("out")))
        return fail(QStringLiteral("--out FILE is required"));

    QFile baseFile(parser.value(QStringLiteral("base")));
    if (!baseFile.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1: %2").arg(baseFile.fileName(), baseFile.errorString()));
    QJsonObject root = QJsonDocument::fromJson(baseFile.readAll()).object();
    if (root.isEmpty())
        return fail(QStringLiteral("%1 is not a JSON object").arg(baseFile.fileName()));

    root.insert(QStringLiteral("servers"), ServerGenerator::generate(count, seed));
    QSaveFile out(parser.value(QStringLiteral("out")));
    if (!out.open(QIODevice::WriteOnly) || out.write(QJsonDocument(root).toJson(QJsonDocument::Compact)) < 0
        || !out.commit())
        return fail(QStringLiteral("cannot write %1: %2").arg(out.fileName(), out.errorString()));
    std::printf("wrote %d servers to %s\n", count, qPrintable(out.fileName()));
    return 0;
}
