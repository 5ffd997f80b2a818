// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/Icons.h"

#include <QPainter>
#include <QPainterPath>

namespace icons {

namespace {

const QColor kOrangeRed(255, 69, 0);

QPixmap blank(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

QPixmap envelope(const QColor &background)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(background);
    QPainter p(&pixmap);
    p.setPen(QColor(40, 40, 40));
    p.setBrush(Qt::white);
    p.drawRect(1, 4, 13, 8);
    p.drawLine(1, 4, 8, 9);
    p.drawLine(14, 4, 8, 9);
    return pixmap;
}

} // namespace

QIcon windowIcon() { return QIcon(envelope(kOrangeRed)); }

QPixmap traySteady() { return envelope(QColor(160, 160, 160)); }

QPixmap trayAlert() { return envelope(kOrangeRed); }

QPixmap mailbox()
{
    QPixmap pixmap = blank(20);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // yellow post
    p.setPen(QColor(120, 100, 0));
    p.setBrush(QColor(255, 215, 0));
    p.drawRect(QRectF(8.5, 10.5, 3, 9));
    // grey box with a rounded top and a red flag
    QPainterPath box;
    box.moveTo(2.5, 11.5);
    box.lineTo(2.5, 5.5);
    box.arcTo(QRectF(2.5, 1.5, 15, 8), 180, -180);
    box.lineTo(17.5, 11.5);
    box.closeSubpath();
    p.setPen(QColor(60, 60, 60));
    p.setBrush(QColor(170, 170, 170));
    p.drawPath(box);
    p.setBrush(QColor(90, 90, 90));
    p.drawRect(QRectF(4.5, 6.5, 5, 5));
    p.setPen(QColor(160, 0, 0));
    p.setBrush(QColor(220, 0, 0));
    p.drawRect(QRectF(14.5, 2.5, 1.5, 5));
    return pixmap;
}

QPixmap clipboard()
{
    QPixmap pixmap = blank(32);
    QPainter p(&pixmap);
    p.setPen(QColor(80, 50, 20));
    p.setBrush(QColor(160, 110, 50));
    p.drawRect(5, 3, 22, 28);
    p.setPen(Qt::black);
    p.setBrush(Qt::white);
    p.drawRect(8, 7, 16, 21);
    p.setPen(QColor(0, 0, 160));
    for (int y = 11; y <= 25; y += 3)
        p.drawLine(10, y, 22, y);
    p.setPen(Qt::black);
    p.setBrush(QColor(192, 192, 192));
    p.drawRect(11, 1, 10, 5);
    return pixmap;
}

QPixmap pencil()
{
    QPixmap pixmap = blank(14);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(7, 7);
    p.rotate(-45);
    p.setPen(QColor(60, 60, 60));
    p.setBrush(QColor(255, 140, 180)); // eraser
    p.drawRect(QRectF(3, -2, 3, 4));
    p.setBrush(QColor(255, 200, 0));   // body
    p.drawRect(QRectF(-4, -2, 7, 4));
    QPolygonF tip{QPointF(-4, -2), QPointF(-7, 0), QPointF(-4, 2)};
    p.setBrush(QColor(240, 210, 160));
    p.drawPolygon(tip);
    return pixmap;
}

QPixmap redCross()
{
    QPixmap pixmap = blank(19);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(210, 0, 0), 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(4, 4), QPointF(15, 15));
    p.drawLine(QPointF(15, 4), QPointF(4, 15));
    return pixmap;
}

QPixmap saveTick()
{
    QPixmap pixmap = blank(19);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 150, 0), 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF{QPointF(3, 10), QPointF(8, 15), QPointF(16, 4)});
    return pixmap;
}

} // namespace icons
