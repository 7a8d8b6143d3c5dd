#pragma once

#include <QImage>
#include <QPixmap>

namespace Varnel {

// The picture as a round badge of the given height: the centred square of
// the picture painted as an antialiased disc on transparency, scaled
// smoothly. A null picture gives a null pixmap.
QPixmap roundBadge(const QImage &picture, int height);

} // namespace Varnel
