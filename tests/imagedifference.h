#pragma once

#include <QImage>
#include <QtGlobal>

// Mean difference per channel between two premultiplied ARGB32 pictures of one size, over the
// pixels that the mask covers fully, or over all of them without a mask; 255 when it covers none.
inline double meanDifference(const QImage& a, const QImage& b, const QImage& mask = QImage()) {
    qint64 sum = 0;
    qint64 pixels = 0;
    for (int y = 0; y < a.height(); ++y) {
        const QRgb* p = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const QRgb* q = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        const QRgb* m =
            mask.isNull() ? nullptr : reinterpret_cast<const QRgb*>(mask.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            if (m && qAlpha(m[x]) != 255)
                continue;
            ++pixels;
            sum += qAbs(qRed(p[x]) - qRed(q[x])) + qAbs(qGreen(p[x]) - qGreen(q[x])) +
                   qAbs(qBlue(p[x]) - qBlue(q[x])) + qAbs(qAlpha(p[x]) - qAlpha(q[x]));
        }
    }
    return pixels == 0 ? 255.0 : double(sum) / (4.0 * double(pixels));
}
