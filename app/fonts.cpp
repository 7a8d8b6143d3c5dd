#include "app/fonts.h"

#include <QFile>
#include <QFontDatabase>
#include <QResource>
#include <QVector>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#include <unistd.h>
#endif

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

// The faces handed over in place, for releaseFontPages.
QVector<QByteArray> &facesInPlace()
{
    static QVector<QByteArray> faces;
    return faces;
}

// A face compiled in without compression is handed over in place: resources
// stay mapped for the whole process, whereas a file name makes the font
// database keep a heap copy of every face and read the drawn ones once more.
QByteArray faceData(const QString &file, bool *inPlace)
{
    const QResource resource(file);
    *inPlace = resource.isValid() && resource.compressionAlgorithm() == QResource::NoCompression && resource.size() > 0;
    if (*inPlace)
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
        bool inPlace = false;
        const QByteArray data = faceData(file, &inPlace);
        if (data.isEmpty() || QFontDatabase::addApplicationFontFromData(data) < 0)
            break;
        if (inPlace)
            facesInPlace().append(data);
        ++added;
    }
    return added;
}

void releaseFontPages()
{
#ifdef Q_OS_LINUX
    const quintptr page = quintptr(sysconf(_SC_PAGESIZE));
    for (const QByteArray &face : qAsConst(facesInPlace())) {
        const quintptr begin = quintptr(face.constData()) & ~(page - 1);
        const quintptr end = (quintptr(face.constData()) + quintptr(face.size()) + page - 1) & ~(page - 1);
        madvise(reinterpret_cast<void *>(begin), end - begin, MADV_DONTNEED);
    }
#endif
}

} // namespace Varnel
