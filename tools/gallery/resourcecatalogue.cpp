#include "resourcecatalogue.h"

#include <QCollator>
#include <QDir>
#include <QDirIterator>
#include <QImageReader>

#include <algorithm>

namespace Varnel {
namespace Art {

namespace {

CataloguedPicture readPicture(const QString &folder, const QString &path)
{
    CataloguedPicture picture;
    picture.name = QDir(folder).relativeFilePath(path);
    QImageReader reader(path);
    picture.image = reader.read();
    picture.size = picture.image.size();
    if (reader.supportsAnimation() && reader.imageCount() > 1) {
        picture.frames = reader.imageCount();
        // The delay read after a frame belongs to that frame.
        picture.durationMs = reader.nextImageDelay();
        while (reader.canRead() && !reader.read().isNull())
            picture.durationMs += reader.nextImageDelay();
    }
    return picture;
}

} // namespace

QVector<CataloguedPicture> cataloguePictures(const QString &folder)
{
    QVector<CataloguedPicture> pictures;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        pictures.append(readPicture(folder, it.next()));
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    std::sort(pictures.begin(), pictures.end(), [&collator](const CataloguedPicture &a, const CataloguedPicture &b) {
        return collator.compare(a.name, b.name) < 0;
    });
    return pictures;
}

} // namespace Art
} // namespace Varnel
