#include "gui/AppIcon.h"

#include <QPainter>
#include <QPainterPath>

QImage PaintAppIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 256 x 256 grid, as the SVG file.
    p.scale(size / 256.0, size / 256.0);

    const QColor blue(0x2c, 0x6f, 0xb7);
    p.setPen(Qt::NoPen);
    p.setBrush(blue);
    p.drawRoundedRect(QRectF(16, 16, 224, 224), 40, 40);

    // The database: a cylinder with two bands.
    p.setBrush(Qt::white);
    p.drawRect(QRectF(72, 116, 112, 88));
    p.drawEllipse(QPointF(128, 204), 56, 18);
    p.setBrush(QColor(0xdb, 0xe8, 0xf6));
    p.setPen(QPen(blue, 4));
    p.drawEllipse(QPointF(128, 116), 56, 18);
    p.setBrush(Qt::NoBrush);
    for (int y : {148, 178}) {
        QPainterPath band;
        band.moveTo(72, y);
        band.cubicTo(72, y + 24, 184, y + 24, 184, y);
        p.drawPath(band);
    }

    // The arrow loading into it.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf5, 0xb8, 0x2e));
    p.drawRect(QRectF(114, 36, 28, 46));
    QPainterPath head;
    head.moveTo(92, 80);
    head.lineTo(164, 80);
    head.lineTo(128, 118);
    head.closeSubpath();
    p.drawPath(head);
    return image;
}

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(PaintAppIcon(size)));
    return icon;
}
