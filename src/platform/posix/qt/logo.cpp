#include "platform/posix/qt/logo.h"

#include <algorithm>

#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

namespace vi2zezir::qtwindow {

QPixmap LogoPixmap(QSize size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);

    // Small icons keep more of their area for the mark; the window's logo box
    // leaves a margin so the square does not touch the white band beside it.
    const int side = std::min(size.width(), size.height());
    const qreal margin = side >= 64 ? side * 0.08 : side * 0.03;
    const qreal square = side - 2 * margin;
    const QRectF frame((size.width() - square) / 2, (size.height() - square) / 2, square, square);

    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);

    const QColor darkGreen(0x0E, 0x5C, 0x2F);
    const QColor green(0x1D, 0x8A, 0x4A);
    const qreal radius = square * 0.10;

    painter.setPen(Qt::NoPen);
    painter.setBrush(darkGreen);
    painter.drawRoundedRect(frame, radius, radius);
    const qreal rim = std::max<qreal>(1.0, square * 0.06);
    painter.setBrush(green);
    painter.drawRoundedRect(frame.adjusted(rim, rim, -rim, -rim), radius * 0.7, radius * 0.7);

    // The inner frame line: what makes the square read as a frame at every size.
    const qreal inset = square * 0.14;
    QPen framePen(QColor(255, 255, 255, 150), std::max<qreal>(1.0, square * 0.025));
    framePen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(framePen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(frame.adjusted(inset, inset, -inset, -inset));

    const qreal arm = square * 0.25;
    const QPointF centre = frame.center();
    QPen crossPen(Qt::white, std::max<qreal>(2.0, square * 0.13), Qt::SolidLine, Qt::FlatCap);
    painter.setPen(crossPen);
    painter.drawLine(centre + QPointF(-arm, -arm), centre + QPointF(arm, arm));
    painter.drawLine(centre + QPointF(arm, -arm), centre + QPointF(-arm, arm));
    return pixmap;
}

QIcon LogoIcon() {
    QIcon icon;
    for (int side : {16, 32, 48}) {
        icon.addPixmap(LogoPixmap(QSize(side, side)));
    }
    return icon;
}

} // namespace vi2zezir::qtwindow
