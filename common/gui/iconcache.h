#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QString>

class QLabel;

namespace Varnel {

// Pictures made for the screen's pixel ratio. Our own pictures (":/img/...",
// composed of SVG drawings) are drawn anew at as many pixels as the screen
// shows them with; any other picture (a flag) is scaled from its largest
// bitmap. Sizes are in the widgets' (device-independent) pixels; the
// pixmaps carry their pixel ratio. Each is made once per process and size:
// a long list shows the same flags and icons on many rows.

// The pixel ratio pictures are made for: the highest of the screens.
qreal pictureRatio();

// A picture scaled smoothly into box keeping its aspect ratio (and turned by
// rotation degrees, a multiple of 90).
QPixmap cachedPicture(const QString &path, const QSize &box, int rotation = 0);

// The same, scaled to a height.
QPixmap cachedPictureOfHeight(const QString &path, int height);

// Shows cachedPicture(path, box) in the label: at once when the label is on
// screen, else when it is first shown. Start-up builds every page, and the
// pages nobody has opened yet need no pictures drawn.
void showPicture(QLabel *label, const QString &path, const QSize &box);

// One icon per picture for the whole process (as a mask when asked); ours
// are drawn at every size and ratio they are asked for. An icon made anew at
// each tunnel status would add its renderings to the pixmap cache under a new
// key every time.
QIcon cachedIcon(const QString &path, bool isMask = false);

// A picture drawn at exactly size (stretched if its proportions differ), not
// kept: for the large ones (window backgrounds) that their owner keeps.
QPixmap uncachedPicture(const QString &path, const QSize &size);

// The bitmap of a picture that is not ours, at its best resolution for the
// pixel ratio ("<name>@2x" where there is one and the ratio is above 1).
QImage sourcePicture(const QString &path);

// Any bitmap scaled smoothly into box for the pixel ratio.
QPixmap fittedPicture(const QImage &image, const QSize &box);

} // namespace Varnel
