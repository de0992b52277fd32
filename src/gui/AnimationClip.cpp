#include "gui/AnimationClip.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace {

enum class Icon { Folder, Globe, Bin, Server };

struct ClipPlan {
    Icon from;
    Icon to;
};

// Clip 1 to 6.
constexpr ClipPlan kClips[] = {
    {Icon::Folder, Icon::Folder}, {Icon::Globe, Icon::Folder},  {Icon::Folder, Icon::Globe},
    {Icon::Folder, Icon::Bin},    {Icon::Server, Icon::Folder}, {Icon::Folder, Icon::Server},
};

const QColor kOutline(60, 60, 60);

// Each icon fills a 40 x 40 square whose top left corner is `at`.
void paintFolder(QPainter& p, QPointF at) {
    p.setPen(QPen(QColor(150, 110, 20), 1));
    p.setBrush(QColor(232, 183, 58));
    QPainterPath back;
    back.moveTo(at + QPointF(3, 9));
    back.lineTo(at + QPointF(15, 9));
    back.lineTo(at + QPointF(18, 12));
    back.lineTo(at + QPointF(37, 12));
    back.lineTo(at + QPointF(37, 35));
    back.lineTo(at + QPointF(3, 35));
    back.closeSubpath();
    p.drawPath(back);
    p.setBrush(QColor(247, 208, 96));
    QPainterPath front;
    front.moveTo(at + QPointF(3, 35));
    front.lineTo(at + QPointF(7, 17));
    front.lineTo(at + QPointF(39, 17));
    front.lineTo(at + QPointF(37, 35));
    front.closeSubpath();
    p.drawPath(front);
}

void paintGlobe(QPainter& p, QPointF at) {
    const QRectF ball(at + QPointF(4, 3), QSizeF(33, 33));
    p.setPen(QPen(QColor(20, 70, 140), 1));
    p.setBrush(QColor(70, 140, 220));
    p.drawEllipse(ball);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(200, 230, 255), 1));
    p.drawEllipse(ball.adjusted(9, 0, -9, 0));
    p.drawLine(QPointF(ball.center().x(), ball.top()), QPointF(ball.center().x(), ball.bottom()));
    p.drawLine(QPointF(ball.left(), ball.center().y()), QPointF(ball.right(), ball.center().y()));
    p.drawLine(QPointF(ball.left() + 4, ball.top() + 9), QPointF(ball.right() - 4, ball.top() + 9));
    p.drawLine(QPointF(ball.left() + 4, ball.bottom() - 9),
               QPointF(ball.right() - 4, ball.bottom() - 9));
}

void paintBin(QPainter& p, QPointF at) {
    p.setPen(QPen(kOutline, 1));
    p.setBrush(QColor(175, 180, 188));
    QPainterPath body;
    body.moveTo(at + QPointF(9, 11));
    body.lineTo(at + QPointF(31, 11));
    body.lineTo(at + QPointF(28, 37));
    body.lineTo(at + QPointF(12, 37));
    body.closeSubpath();
    p.drawPath(body);
    p.drawRect(QRectF(at + QPointF(6, 6), QSizeF(28, 4)));
    p.drawRect(QRectF(at + QPointF(16, 3), QSizeF(8, 3)));
    for (int x : {15, 20, 25})
        p.drawLine(at + QPointF(x, 15), at + QPointF(x, 33));
}

void paintServer(QPainter& p, QPointF at) {
    p.setPen(QPen(kOutline, 1));
    p.setBrush(QColor(150, 155, 165));
    p.drawRoundedRect(QRectF(at + QPointF(10, 2), QSizeF(20, 36)), 2, 2);
    p.setBrush(QColor(90, 95, 105));
    for (int y : {7, 13, 19})
        p.drawRect(QRectF(at + QPointF(13, y), QSizeF(14, 3)));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 200, 70));
    p.drawEllipse(QRectF(at + QPointF(22, 30), QSizeF(4, 4)));
}

void paintIcon(QPainter& p, Icon icon, QPointF at) {
    switch (icon) {
        case Icon::Folder:
            paintFolder(p, at);
            break;
        case Icon::Globe:
            paintGlobe(p, at);
            break;
        case Icon::Bin:
            paintBin(p, at);
            break;
        case Icon::Server:
            paintServer(p, at);
            break;
    }
}

// A sheet of paper 14 x 18 with a folded corner and lines of text, centred on `centre`.
void paintSheet(QPainter& p, QPointF centre, qreal opacity) {
    p.save();
    p.setOpacity(opacity);
    const QPointF tl = centre - QPointF(7, 9);
    QPainterPath sheet;
    sheet.moveTo(tl);
    sheet.lineTo(tl + QPointF(10, 0));
    sheet.lineTo(tl + QPointF(14, 4));
    sheet.lineTo(tl + QPointF(14, 18));
    sheet.lineTo(tl + QPointF(0, 18));
    sheet.closeSubpath();
    p.setPen(QPen(kOutline, 1));
    p.setBrush(Qt::white);
    p.drawPath(sheet);
    p.drawLine(tl + QPointF(10, 0), tl + QPointF(10, 4));
    p.drawLine(tl + QPointF(10, 4), tl + QPointF(14, 4));
    p.setPen(QPen(QColor(120, 120, 160), 1));
    for (int y : {7, 10, 13})
        p.drawLine(tl + QPointF(3, y), tl + QPointF(11, y));
    p.restore();
}

// Where the sheet is at time t (0 leaving the source, 1 reaching the target): an arc from the
// left icon to the right one.
QPointF sheetAt(qreal t) {
    const qreal x = 30 + t * 200;
    const qreal y = 22 - 18 * std::sin(t * 3.14159265358979);
    return {x, y};
}

}  // namespace

AnimationClip::AnimationClip(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    timer_.setInterval(FrameMilliseconds);
    connect(&timer_, &QTimer::timeout, this, [this] {
        frame_ = (frame_ + 1) % FrameCount;
        update();
    });
}

bool AnimationClip::Open(int number) {
    Stop();
    if (number < FirstClip || number > LastClip) {
        clip_ = 0;
        update();
        return false;
    }
    clip_ = number;
    frame_ = 0;
    Play();
    return true;
}

void AnimationClip::Play() {
    if (clip_ != 0)
        timer_.start();
    update();
}

void AnimationClip::Stop() {
    timer_.stop();
    update();
}

void AnimationClip::PaintFrame(QPainter& p, int number, int frame) {
    if (number < FirstClip || number > LastClip)
        return;
    const ClipPlan& plan = kClips[number - 1];
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    paintIcon(p, plan.from, QPointF(10, 0));
    paintIcon(p, plan.to, QPointF(210, 0));
    // The sheet is in the air from frame 1 to frame 15, with two fading copies behind it.
    const int last = FrameCount - 1;
    if (frame > 0 && frame < last) {
        for (int trail = 2; trail >= 0; --trail) {
            const int f = frame - trail;
            if (f <= 0)
                continue;
            paintSheet(p, sheetAt(qreal(f) / last), trail == 0 ? 1.0 : 0.35 / trail);
        }
    }
    p.restore();
}

void AnimationClip::paintEvent(QPaintEvent*) {
    if (clip_ == 0)
        return;
    QPainter painter(this);
    const QSize size = ClipSize();
    painter.translate((width() - size.width()) / 2, (height() - size.height()) / 2);
    PaintFrame(painter, clip_, frame_);
}
