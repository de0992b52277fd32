#include "gui/MainWindowPictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace {

// All drawing is on a 40 x 40 grid, scaled to the requested size.
constexpr qreal kGrid = 40.0;

const QColor kOutline(40, 48, 64);
const QColor kServer(120, 134, 160);
const QColor kServerLight(196, 206, 224);
const QColor kDatabase(70, 130, 200);
const QColor kDatabaseLight(150, 200, 245);
const QColor kPackage(196, 150, 80);
const QColor kPackageLight(236, 206, 150);
const QColor kPaper(252, 252, 246);
const QColor kLine(150, 160, 176);
const QColor kAccent(200, 60, 50);

void server(QPainter& p, const QRectF& r) {
    QLinearGradient g(r.topLeft(), r.topRight());
    g.setColorAt(0, kServerLight);
    g.setColorAt(1, kServer);
    p.setPen(QPen(kOutline, 1.2));
    p.setBrush(g);
    p.drawRoundedRect(r, 2, 2);
    // Drive bays and a light.
    const qreal bay = r.height() / 5;
    for (int i = 1; i <= 3; ++i) {
        const qreal y = r.top() + i * bay;
        p.drawLine(QPointF(r.left() + 3, y), QPointF(r.right() - 3, y));
    }
    p.setBrush(QColor(90, 200, 90));
    p.drawEllipse(QPointF(r.right() - 4, r.bottom() - bay / 2 - 1), 1.6, 1.6);
}

void database(QPainter& p, const QRectF& r) {
    const qreal cap = r.height() / 5;
    QPainterPath body;
    body.moveTo(r.left(), r.top() + cap / 2);
    body.lineTo(r.left(), r.bottom() - cap / 2);
    body.arcTo(QRectF(r.left(), r.bottom() - cap, r.width(), cap), 180, 180);
    body.lineTo(r.right(), r.top() + cap / 2);
    QLinearGradient g(r.topLeft(), r.topRight());
    g.setColorAt(0, kDatabaseLight);
    g.setColorAt(1, kDatabase);
    p.setPen(QPen(kOutline, 1.2));
    p.setBrush(g);
    p.drawPath(body);
    p.setBrush(kDatabaseLight);
    p.drawEllipse(QRectF(r.left(), r.top(), r.width(), cap));
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= 2; ++i) {
        const qreal y = r.top() + i * (r.height() - cap) / 3;
        p.drawArc(QRectF(r.left(), y, r.width(), cap), 180 * 16, 180 * 16);
    }
}

void DrawPackage(QPainter& p, const QRectF& r) {
    const qreal d = r.width() / 4;
    QPolygonF front({QPointF(r.left(), r.top() + d), QPointF(r.right() - d, r.top() + d),
                     QPointF(r.right() - d, r.bottom()), QPointF(r.left(), r.bottom())});
    QPolygonF top({QPointF(r.left(), r.top() + d), QPointF(r.left() + d, r.top()),
                   QPointF(r.right(), r.top()), QPointF(r.right() - d, r.top() + d)});
    QPolygonF side({QPointF(r.right() - d, r.top() + d), QPointF(r.right(), r.top()),
                    QPointF(r.right(), r.bottom() - d), QPointF(r.right() - d, r.bottom())});
    p.setPen(QPen(kOutline, 1.2));
    p.setBrush(kPackage);
    p.drawPolygon(front);
    p.setBrush(kPackageLight);
    p.drawPolygon(top);
    p.setBrush(kPackage.darker(120));
    p.drawPolygon(side);
    // Tape across the lid and down the front.
    p.setPen(QPen(kPaper, 2));
    const qreal mid = r.left() + (r.width() - d) / 2;
    p.drawLine(QPointF(mid, r.top() + d + 1), QPointF(mid, r.top() + d + (r.height() - d) / 2));
}

void textFile(QPainter& p, const QRectF& r) {
    const qreal fold = r.width() / 3;
    QPolygonF page({r.topLeft(), QPointF(r.right() - fold, r.top()),
                    QPointF(r.right(), r.top() + fold), r.bottomRight(), r.bottomLeft()});
    p.setPen(QPen(kOutline, 1.2));
    p.setBrush(kPaper);
    p.drawPolygon(page);
    p.drawPolyline(
        QPolygonF({QPointF(r.right() - fold, r.top()), QPointF(r.right() - fold, r.top() + fold),
                   QPointF(r.right(), r.top() + fold)}));
    p.setPen(QPen(kLine, 1.5));
    for (qreal y = r.top() + fold + 3; y < r.bottom() - 3; y += 4)
        p.drawLine(QPointF(r.left() + 3, y), QPointF(r.right() - 3, y));
    // One line in red: an error in the log.
    p.setPen(QPen(kAccent, 1.5));
    p.drawLine(QPointF(r.left() + 3, r.top() + 5), QPointF(r.right() - fold - 2, r.top() + 5));
}

void logBook(QPainter& p, const QRectF& r) {
    p.setPen(QPen(kOutline, 1.2));
    p.setBrush(QColor(60, 110, 90));
    p.drawRoundedRect(r, 2, 2);
    p.setBrush(kPaper);
    p.drawRect(QRectF(r.left() + 4, r.top() + 3, r.width() - 7, r.height() - 6));
    p.setPen(QPen(kLine, 1.5));
    for (qreal y = r.top() + 8; y < r.bottom() - 5; y += 4)
        p.drawLine(QPointF(r.left() + 9, y), QPointF(r.right() - 5, y));
    // A tick mark: the completion event.
    p.setPen(QPen(QColor(40, 160, 60), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(
        QPolygonF({QPointF(r.left() + 6, r.bottom() - 10), QPointF(r.left() + 10, r.bottom() - 5),
                   QPointF(r.left() + 18, r.bottom() - 16)}));
}

void arrow(QPainter& p, QPointF from, QPointF to) {
    p.setPen(QPen(kAccent, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(from, to);
    const QPointF d = (to - from) / std::max(1.0, std::hypot(to.x() - from.x(), to.y() - from.y()));
    const QPointF n(-d.y(), d.x());
    p.setBrush(kAccent);
    p.setPen(Qt::NoPen);
    p.drawPolygon(QPolygonF({to, to - 5 * d + 3 * n, to - 5 * d - 3 * n}));
}

}  // namespace

QPixmap PaintMainWindowPicture(MainWindowPicture picture, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / kGrid, size / kGrid);
    switch (picture) {
        case MainWindowPicture::PackageInfo:
            server(p, QRectF(2, 4, 14, 32));
            DrawPackage(p, QRectF(19, 14, 19, 19));
            break;
        case MainWindowPicture::DTSServer:
            server(p, QRectF(10, 3, 20, 34));
            break;
        case MainWindowPicture::Package:
            DrawPackage(p, QRectF(5, 7, 30, 28));
            break;
        case MainWindowPicture::ErrorFile:
            textFile(p, QRectF(8, 3, 24, 34));
            break;
        case MainWindowPicture::DWServerDB:
            server(p, QRectF(2, 4, 14, 32));
            database(p, QRectF(20, 10, 18, 26));
            break;
        case MainWindowPicture::DWDB:
            database(p, QRectF(8, 4, 24, 32));
            break;
        case MainWindowPicture::EventLog:
            logBook(p, QRectF(6, 3, 28, 34));
            break;
        case MainWindowPicture::DataSources:
            textFile(p, QRectF(1, 2, 12, 16));
            database(p, QRectF(1, 22, 12, 16));
            arrow(p, QPointF(14, 10), QPointF(24, 18));
            arrow(p, QPointF(14, 30), QPointF(24, 23));
            database(p, QRectF(25, 8, 14, 24));
            break;
    }
    return pixmap;
}
