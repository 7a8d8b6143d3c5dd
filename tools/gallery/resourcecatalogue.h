#pragma once

#include <QImage>
#include <QString>
#include <QVector>

namespace Varnel {
namespace Art {

struct CataloguedPicture {
    QString name;   // file name inside the folder, as the resource system lists it
    QImage image;   // the first frame for animations; null if it cannot be decoded
    QSize size;
    int frames = 1;
    int durationMs = 0; // whole animation; 0 for still pictures
};

// Every picture in a resource folder and its subfolders, sorted by name.
// A missing or empty folder gives an empty list.
QVector<CataloguedPicture> cataloguePictures(const QString &folder);

} // namespace Art
} // namespace Varnel
