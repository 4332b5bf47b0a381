#include "ui/Artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace ui::artwork {
namespace {

const QColor kNavy(0, 0, 128);
const QColor kDeepBlue(16, 52, 120);
const QColor kTeal(28, 128, 140);
const QColor kPaper(250, 250, 244);
const QColor kFolder(232, 186, 72);
const QColor kFolderDark(176, 128, 32);

// A folded map sheet: three panels, the middle one shaded, with a red route across.
void PaintMapSheet(QPainter& p, const QRectF& r) {
    const qreal third = r.width() / 3.0;
    QPolygonF panels[3];
    for (int i = 0; i < 3; ++i) {
        qreal x0 = r.left() + i * third, x1 = x0 + third;
        qreal lift = (i % 2 == 0) ? 0.0 : r.height() * 0.08;
        panels[i] << QPointF(x0, r.top() + (i % 2 ? 0 : lift + r.height() * 0.08))
                  << QPointF(x1, r.top() + (i % 2 ? r.height() * 0.08 : 0))
                  << QPointF(x1, r.bottom() - (i % 2 ? r.height() * 0.08 : 0))
                  << QPointF(x0, r.bottom() - (i % 2 ? 0 : r.height() * 0.08));
        p.setBrush(i == 1 ? QColor(214, 232, 214) : QColor(236, 246, 230));
        p.setPen(QPen(kDeepBlue, qMax<qreal>(1.0, r.width() / 40.0)));
        p.drawPolygon(panels[i]);
    }
    QPainterPath route;
    route.moveTo(r.left() + r.width() * 0.12, r.bottom() - r.height() * 0.25);
    route.cubicTo(r.left() + r.width() * 0.40, r.top() + r.height() * 0.15, r.left() + r.width() * 0.60,
                  r.bottom() - r.height() * 0.10, r.right() - r.width() * 0.12, r.top() + r.height() * 0.28);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(200, 30, 30), qMax<qreal>(1.5, r.width() / 18.0), Qt::SolidLine, Qt::RoundCap));
    p.drawPath(route);
}

void PaintFolder(QPainter& p, const QRectF& r, bool open) {
    p.setPen(QPen(kFolderDark, 1.2));
    p.setBrush(kFolderDark);
    QRectF tab(r.left(), r.top(), r.width() * 0.4, r.height() * 0.2);
    p.drawRoundedRect(tab, 2, 2);
    p.setBrush(kFolder);
    QRectF body(r.left(), r.top() + r.height() * 0.12, r.width(), r.height() * 0.88);
    p.drawRoundedRect(body, 3, 3);
    if (open) {
        QPolygonF flap;
        flap << QPointF(r.left() + r.width() * 0.12, r.top() + r.height() * 0.40)
             << QPointF(r.right() + r.width() * 0.06, r.top() + r.height() * 0.40)
             << QPointF(r.right() - r.width() * 0.06, r.bottom()) << QPointF(r.left(), r.bottom());
        p.setBrush(kFolder.lighter(112));
        p.drawPolygon(flap);
    }
}

void PaintSheet(QPainter& p, const QPointF& centre, qreal width, qreal angle) {
    p.save();
    p.translate(centre);
    p.rotate(angle);
    QRectF sheet(-width / 2, -width * 0.65, width, width * 1.3);
    p.setPen(QPen(Qt::gray, 1));
    p.setBrush(kPaper);
    p.drawRect(sheet);
    p.setPen(QPen(QColor(120, 140, 190), 1));
    for (int i = 1; i <= 4; ++i) {
        qreal y = sheet.top() + sheet.height() * i / 5.5;
        p.drawLine(QPointF(sheet.left() + 3, y), QPointF(sheet.right() - 3, y));
    }
    p.restore();
}

QPixmap Blank(QSize size, const QColor& fill) {
    QPixmap pixmap(size);
    pixmap.fill(fill);
    return pixmap;
}

}  // namespace

QPixmap Banner(QSize size) {
    QPixmap pixmap = Blank(size, Qt::white);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, size.width(), 0);
    gradient.setColorAt(0.0, kNavy);
    gradient.setColorAt(0.65, kDeepBlue);
    gradient.setColorAt(1.0, kTeal);
    p.fillRect(pixmap.rect(), gradient);
    // faint contour lines, as on a map
    p.setPen(QPen(QColor(255, 255, 255, 36), 1));
    for (int i = 0; i < 6; ++i) {
        QPainterPath contour;
        qreal y = size.height() * (0.2 + i * 0.15);
        contour.moveTo(0, y);
        contour.cubicTo(size.width() * 0.3, y - size.height() * 0.35, size.width() * 0.6, y + size.height() * 0.35,
                        size.width(), y - size.height() * 0.1);
        p.drawPath(contour);
    }
    QFont font("Arial");
    font.setBold(true);
    font.setPixelSize(qMax(10, size.height() * 11 / 20));
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(12, 0, size.width() - 12, size.height()), Qt::AlignVCenter | Qt::AlignLeft, "Tallomir");
    return pixmap;
}

QPixmap Logo(int side) {
    QPixmap pixmap = Blank(QSize(side, side), Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    PaintMapSheet(p, QRectF(side * 0.08, side * 0.14, side * 0.84, side * 0.72));
    return pixmap;
}

QPixmap SideImage(int side) {
    QPixmap pixmap = Blank(QSize(side, side), Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kDeepBlue);
    p.drawEllipse(QRectF(1, 1, side - 2, side - 2));
    PaintMapSheet(p, QRectF(side * 0.22, side * 0.28, side * 0.56, side * 0.44));
    return pixmap;
}

QPixmap AboutPicture(QSize size) {
    QPixmap pixmap = Banner(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const int side = size.height() * 3 / 4;
    QRect logo(size.width() - side - size.height() / 8, size.height() / 8, side, side);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 230));
    p.drawRoundedRect(logo, 10, 10);
    PaintMapSheet(p, QRectF(logo).adjusted(side * 0.12, side * 0.2, -side * 0.12, -side * 0.2));
    QFont font("Arial");
    font.setPixelSize(qMax(9, size.height() / 9));
    p.setFont(font);
    p.setPen(QColor(220, 232, 255));
    p.drawText(QRect(14, size.height() * 2 / 3, size.width() - side - 40, size.height() / 3 - 6),
               Qt::AlignLeft | Qt::AlignVCenter, "MapInfo workspaces, packed to travel");
    return pixmap;
}

QPixmap CopyAnimationFrame(int frame, QSize size) {
    frame = qBound(1, frame, kCopyAnimationFrames);
    QPixmap pixmap = Blank(size, Qt::white);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal h = size.height();
    const qreal folderW = h * 0.9;
    QRectF from(h * 0.25, h * 0.2, folderW, h * 0.7);
    QRectF to(size.width() - h * 0.25 - folderW, h * 0.2, folderW, h * 0.7);
    PaintFolder(p, from, false);
    PaintFolder(p, to, true);
    // The sheet leaves the left folder, flies an arc and lands in the right one.
    const qreal t = (frame - 1) / qreal(kCopyAnimationFrames - 1);
    const QPointF start(from.center().x(), from.top() + h * 0.15);
    const QPointF end(to.center().x(), to.top() + h * 0.15);
    const QPointF at(start.x() + (end.x() - start.x()) * t, start.y() - qSin(t * M_PI) * h * 0.28);
    PaintSheet(p, at, h * 0.26, -25.0 + 50.0 * t);
    return pixmap;
}

}  // namespace ui::artwork
