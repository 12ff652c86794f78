#include "server/ui/Pictures.h"

#include <QPainter>
#include <QPainterPath>

namespace {

// An envelope with a coloured state dot in its lower right corner.
QPixmap Envelope(int size, QColor dot) {
    QPixmap pix(size, size);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF body(size * 0.06, size * 0.2, size * 0.8, size * 0.56);
    p.setPen(QPen(QColor(40, 40, 60), size / 16.0));
    p.setBrush(QColor(250, 248, 235));
    p.drawRect(body);
    QPainterPath flap;
    flap.moveTo(body.topLeft());
    flap.lineTo(body.center().x(), body.top() + body.height() * 0.55);
    flap.lineTo(body.topRight());
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
    if (dot.isValid()) {
        p.setPen(QPen(Qt::black, size / 24.0));
        p.setBrush(dot);
        p.drawEllipse(QRectF(size * 0.56, size * 0.56, size * 0.42, size * 0.42));
    }
    return pix;
}

QIcon IconOf(QColor dot) {
    QIcon icon;
    for (int size : {16, 22, 32, 48, 64}) icon.addPixmap(Envelope(size, dot));
    return icon;
}

}   // namespace

QIcon TrayIcon(TrayIconId id) {
    switch (id) {
    case TrayIconId::Online:
        return IconOf(QColor(30, 170, 60));
    case TrayIconId::Stopped:
        return IconOf(QColor(200, 40, 40));
    case TrayIconId::Offline:
        return IconOf(QColor(230, 190, 30));
    case TrayIconId::Window:
        break;
    }
    return AppIcon();
}

QPixmap Lamp(QColor color, int size) {
    QPixmap pix(size, size);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient shine(size * 0.35, size * 0.35, size * 0.6);
    shine.setColorAt(0, color.lighter(170));
    shine.setColorAt(1, color.darker(130));
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(shine);
    p.drawEllipse(QRectF(1, 1, size - 2, size - 2));
    return pix;
}

QIcon AppIcon() { return IconOf(QColor()); }
