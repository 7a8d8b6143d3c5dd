#include "app/fonts.h"

#include <QFile>
#include <QFontDatabase>
#include <QResource>

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

namespace {

// A face compiled in without compression is handed over in place: resources
// stay mapped for the whole process, whereas a file name makes the font
// database keep a heap copy of every face and read the drawn ones once more.
QByteArray faceData(const QString &file)
{
    const QResource resource(file);
    if (resource.isValid() && resource.compressionAlgorithm() == QResource::NoCompression && resource.size() > 0)
        return QByteArray::fromRawData(reinterpret_cast<const char *>(resource.data()), int(resource.size()));
    QFile face(file);
    if (!face.open(QIODevice::ReadOnly))
        return {};
    return face.readAll();
}

} // namespace

int registerFonts(const QStringList &files)
{
    int added = 0;
    for (const QString &file : files) {
        const QByteArray data = faceData(file);
        if (data.isEmpty() || QFontDatabase::addApplicationFontFromData(data) < 0)
            break;
        ++added;
    }
    return added;
}

} // namespace Varnel
