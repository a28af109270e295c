#include "dialog/ButtonIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace vark {

namespace {

constexpr int kSide = 32;

void DrawOpenShape(QPainter& p) {
    // A folder with a green plus: "add a file to the map".
    p.setPen(QPen(QColor(120, 80, 0), 1.5));
    p.setBrush(QColor(240, 190, 60));
    QPainterPath folder;
    folder.moveTo(2, 8);
    folder.lineTo(11, 8);
    folder.lineTo(14, 11);
    folder.lineTo(26, 11);
    folder.lineTo(26, 27);
    folder.lineTo(2, 27);
    folder.closeSubpath();
    p.drawPath(folder);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 150, 40));
    p.drawEllipse(QPointF(24, 23), 7.5, 7.5);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(19.5, 21.8, 9, 2.4));
    p.drawRect(QRectF(22.8, 18.5, 2.4, 9));
}

void DrawExit(QPainter& p) {
    // An open door with an arrow leaving it.
    p.setPen(QPen(QColor(70, 40, 20), 1.5));
    p.setBrush(QColor(170, 110, 60));
    p.drawRect(QRectF(4, 3, 14, 26));
    p.setBrush(QColor(110, 65, 30));
    QPolygonF leaf({{4, 3}, {12, 6}, {12, 31}, {4, 29}});
    p.drawPolygon(leaf);
    p.setPen(QPen(QColor(200, 30, 30), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(15, 16), QPointF(29, 16));
    p.drawLine(QPointF(24, 11), QPointF(29, 16));
    p.drawLine(QPointF(24, 21), QPointF(29, 16));
}

void DrawCompute(QPainter& p) {
    // Three bars of rising height and a run arrow: "compute the degrees".
    p.setPen(Qt::NoPen);
    const QColor bars[] = {QColor(60, 90, 200), QColor(90, 130, 230), QColor(130, 170, 250)};
    for (int i = 0; i < 3; ++i) {
        p.setBrush(bars[i]);
        const double h = 8.0 + 7.0 * i;
        p.drawRect(QRectF(2 + i * 7, 29 - h, 5.5, h));
    }
    p.setBrush(QColor(30, 150, 40));
    p.setPen(QPen(QColor(10, 90, 20), 1.2));
    QPolygonF arrow({{20, 4}, {31, 11}, {20, 18}});
    p.drawPolygon(arrow);
}

}  // namespace

QIcon MakeButtonIcon(ButtonPicture picture) {
    QPixmap pixmap(kSide, kSide);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    switch (picture) {
        case ButtonPicture::OpenShape:
            DrawOpenShape(painter);
            break;
        case ButtonPicture::Exit:
            DrawExit(painter);
            break;
        case ButtonPicture::Compute:
            DrawCompute(painter);
            break;
    }
    painter.end();
    return QIcon(pixmap);
}

}  // namespace vark
