#pragma once

#include <QColor>

class QImage;
class QPainter;
class QRect;

namespace fis {

// The colour that stands for "transparent" in the screens' bitmaps: olive, RGB (128, 128, 0).
QColor transparentKeyColor();

// Copies `image` into `target` as the classic brush copy does: its top-left corner at the
// target's, 1:1 (never scaled, never centred), cut to the target's width and height, with every
// pixel of exactly the `key` colour painted in `fill` instead. Parts of the target the image
// does not reach are left as they are. The painter's state is not changed.
void drawTransparentImage(QPainter &painter, const QRect &target, const QImage &image,
                          const QColor &fill, const QColor &key = transparentKeyColor());

} // namespace fis
