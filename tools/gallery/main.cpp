// Developer tool: renders every compiled-in picture and flag into one labelled
// PNG sheet, for reviewing the artwork at a glance.
// varnel-gallery <out.png>

#include "contactsheet.h"

#include <QGuiApplication>
#include <QImageWriter>
#include <QTextStream>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);

    const QStringList args = app.arguments();
    if (args.size() != 2 || args.at(1).startsWith(QLatin1Char('-'))) {
        err << "usage: varnel-gallery <out.png>\n";
        return 2;
    }

    Varnel::Art::ContactSheet sheet(1600);
    sheet.addSection(QStringLiteral("Pictures  :/img"), Varnel::Art::cataloguePictures(QStringLiteral(":/img")));
    sheet.addSection(QStringLiteral("Flags  :/flags/flags"),
                     Varnel::Art::cataloguePictures(QStringLiteral(":/flags/flags")));

    QImageWriter writer(args.at(1), "png");
    if (!writer.write(sheet.render())) {
        err << "varnel-gallery: cannot write " << args.at(1) << ": " << writer.errorString() << '\n';
        return 1;
    }
    return 0;
}
