#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QTimer>

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

// The time spent drawing pictures in this process so far (nanoseconds), for
// the start-up log.
qint64 pictureDrawingNs();

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

// A large picture of ours (a window background) drawn a strip at a time, one
// strip per turn of the event loop, so that drawing it never holds the GUI
// thread for more than a fraction of a millisecond; finish() draws what is
// left at once and hands the picture over.
class SteppedPicture : public QObject
{
public:
    SteppedPicture(const QString &path, const QSize &size, QObject *parent = nullptr);

    QSize size() const { return m_size; }
    QPixmap finish();

private:
    void step();

    QString m_path;
    QSize m_size;
    qreal m_ratio;
    QImage m_image;
    int m_next = 0;
    QTimer m_timer;
};

// The bitmap of a picture that is not ours, at its best resolution for the
// pixel ratio ("<name>@2x" where there is one and the ratio is above 1).
QImage sourcePicture(const QString &path);

// Any bitmap scaled smoothly into box for the pixel ratio.
QPixmap fittedPicture(const QImage &image, const QSize &box);

} // namespace Varnel
