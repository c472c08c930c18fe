#include "hostfw/widgets/transparentdraw.h"

#include <QImage>
#include <QPainter>
#include <QRect>

namespace fis {

QColor transparentKeyColor()
{
    return QColor(128, 128, 0);
}

void drawTransparentImage(QPainter &painter, const QRect &target, const QImage &image,
                          const QColor &fill, const QColor &key)
{
    const int width = qMin(target.width(), image.width());
    const int height = qMin(target.height(), image.height());
    if (width <= 0 || height <= 0)
        return;
    // The key is matched on the exact colour, never blended: an indexed bitmap keeps its
    // pixels exact through the conversion.
    QImage part = image.copy(0, 0, width, height).convertToFormat(QImage::Format_ARGB32);
    part.setDevicePixelRatio(1.0); // one image pixel per logical pixel, whatever it was saved as
    const QRgb keyRgb = key.rgb() & RGB_MASK;
    const QRgb fillRgba = fill.rgba();
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(part.scanLine(y));
        for (int x = 0; x < width; ++x) {
            if (qAlpha(line[x]) == 255 && (line[x] & RGB_MASK) == keyRgb)
                line[x] = fillRgba;
        }
    }
    painter.drawImage(target.topLeft(), part);
}

} // namespace fis
