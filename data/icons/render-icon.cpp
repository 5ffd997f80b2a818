// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the application icon to PNG at one size, at build time. The shapes are those of
// scalable/apps/pelicorde.svg (48-unit canvas); drawn with QPainter so that no SVG module is
// needed. Multiples of 16 pixels keep every stroke on whole pixels; 16 itself is drawn by pixel.
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>
#include <QPolygonF>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SIZE OUT.png\n", argv[0]);
        return 2;
    }
    const int size = std::atoi(argv[1]);
    if (size < 8 || size > 1024) {
        std::fprintf(stderr, "bad size %s\n", argv[1]);
        return 2;
    }

    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 48.0, size / 48.0);

        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xe8, 0x46, 0x1e));
        p.drawRoundedRect(QRectF(0, 0, 48, 48), 7.5, 7.5);

        const QColor outline(0x1e, 0x1e, 0x1e);
        if (size == 16) {
            // At 16 pixels antialiased one-pixel strokes turn grey: the envelope is drawn
            // on whole pixels instead, the flap as a staircase.
            p.resetTransform();
            p.setRenderHint(QPainter::Antialiasing, false);
            p.setPen(QPen(outline, 1));
            p.setBrush(Qt::white);
            p.drawRect(QRect(2, 4, 11, 7));
            p.drawPolyline(QPolygon{{2, 4}, {7, 9}, {8, 9}, {13, 4}});
        } else {
            p.setPen(QPen(outline, 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(7.5, 13.5, 33, 21));
            p.setPen(QPen(outline, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(Qt::NoBrush);
            p.drawPolyline(QPolygonF{{7.5, 13.5}, {24, 27}, {40.5, 13.5}});
        }
    }
    if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
