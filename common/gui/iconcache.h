#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace Varnel {

// A resource picture scaled smoothly into box keeping its aspect ratio (and
// turned by rotation degrees after scaling, fast), decoded and scaled once per
// process: a long list shows the same flags and icons on many rows.
QPixmap cachedPicture(const QString &path, const QSize &box, int rotation = 0);

// The same, scaled smoothly to a height.
QPixmap cachedPictureOfHeight(const QString &path, int height);

// One icon per resource picture for the whole process (as a mask when asked).
// An icon made anew at each tunnel status would add its renderings to the
// pixmap cache under a new key every time.
QIcon cachedIcon(const QString &path, bool isMask = false);

} // namespace Varnel
