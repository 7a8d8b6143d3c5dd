#include "app/fonts.h"

#include <QFontDatabase>

namespace Varnel {

QStringList montserratFonts()
{
    static const char *const styles[] = {
        "Black", "BlackItalic", "Bold", "BoldItalic", "ExtraBold", "ExtraBoldItalic",
        "ExtraLight", "ExtraLightItalic", "Italic", "Light", "LightItalic", "Medium",
        "MediumItalic", "Regular", "SemiBold", "SemiBoldItalic", "Thin", "ThinItalic",
    };
    QStringList files;
    for (const char *style : styles)
        files << QStringLiteral(":/fonts/fonts/Montserrat-%1.ttf").arg(QLatin1String(style));
    return files;
}

int registerFonts(const QStringList &files)
{
    int added = 0;
    for (const QString &file : files) {
        if (QFontDatabase::addApplicationFont(file) < 0)
            break;
        ++added;
    }
    return added;
}

} // namespace Varnel
