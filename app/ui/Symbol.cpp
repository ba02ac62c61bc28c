#include "app/ui/Symbol.hpp"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace korvel {
namespace {

// Every symbol is drawn on a 24 × 24 grid.
constexpr double grid = 24;

QPainterPath circle(double cx, double cy, double r)
{
    QPainterPath path;
    path.addEllipse(QPointF(cx, cy), r, r);
    return path;
}

QPainterPath ring(double cx, double cy, double r, double width)
{
    return circle(cx, cy, r + width / 2).subtracted(circle(cx, cy, r - width / 2));
}

// A person: a head and rounded shoulders, centred on x, standing on `bottom`.
QPainterPath person(double x, double headY, double headR, double bottom, double halfWidth)
{
    QPainterPath path = circle(x, headY, headR);
    QPainterPath body;
    const double top = headY + headR + 1.2;
    body.moveTo(x - halfWidth, bottom);
    body.cubicTo(x - halfWidth, top, x + halfWidth, top, x + halfWidth, bottom);
    body.closeSubpath();
    return path.united(body);
}

QPainterPath twoPeople()
{
    const QPainterPath back = person(15.2, 8.6, 2.4, 16.4, 4.2);
    const QPainterPath front = person(10.2, 9.4, 2.9, 18.2, 5.0);
    // A gap around the front person keeps the two apart.
    QPainterPath gap = front;
    QPainterPathStroker stroker;
    stroker.setWidth(2.2);
    return back.subtracted(stroker.createStroke(gap).united(gap)).united(front);
}

QPainterPath exclamationMark(double cx, double top, double bottom, double width)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(cx - width / 2, top, width, bottom - top - width * 1.6), width / 2, width / 2);
    path.addEllipse(QPointF(cx, bottom - width / 2), width * 0.62, width * 0.62);
    return path;
}

QPainterPath triangle()
{
    QPainterPath path;
    path.moveTo(12, 2.5);
    path.lineTo(22.5, 21);
    path.lineTo(1.5, 21);
    path.closeSubpath();
    QPainterPathStroker rounding;
    rounding.setWidth(2);
    rounding.setJoinStyle(Qt::RoundJoin);
    return path.united(rounding.createStroke(path));
}

QPainterPath stroked(const QPainterPath& outline, double width)
{
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(outline);
}

QPainterPath key(double x, double y, double scale)
{
    QPainterPath path = ring(x + 4 * scale, y + 4 * scale, 2.6 * scale, 1.8 * scale);
    QPainterPath shaft;
    shaft.moveTo(x + 6.2 * scale, y + 6.2 * scale);
    shaft.lineTo(x + 13 * scale, y + 13 * scale);
    shaft.moveTo(x + 10 * scale, y + 10 * scale);
    shaft.lineTo(x + 8.4 * scale, y + 11.6 * scale);
    shaft.moveTo(x + 12 * scale, y + 12 * scale);
    shaft.lineTo(x + 10.4 * scale, y + 13.6 * scale);
    return path.united(stroked(shaft, 1.8 * scale));
}

QPainterPath shape(Symbol::Name name)
{
    using Symbol::Name;
    switch (name) {
    case Name::PersonTwoCircle:
        return ring(12, 12, 10.2, 1.6).united(twoPeople().intersected(circle(12, 12, 9.4)));
    case Name::PersonTwoCircleFill:
        return circle(12, 12, 11).subtracted(twoPeople().intersected(circle(12, 12, 9.6)));
    case Name::ExclamationTriangle:
        return stroked(triangle(), 1.6)
            .subtracted(triangle().subtracted(stroked(triangle(), 1.6)))
            .united(exclamationMark(12, 8.5, 18.5, 2));
    case Name::ExclamationTriangleFill:
        return triangle().subtracted(exclamationMark(12, 8.5, 18.5, 2.2));
    case Name::ExclamationCircle:
        return ring(12, 12, 10, 1.6).united(exclamationMark(12, 6, 18, 2));
    case Name::InfoCircle: {
        QPainterPath stem;
        stem.addRoundedRect(QRectF(11, 10, 2, 8), 1, 1);
        return ring(12, 12, 10, 1.6).united(stem).united(circle(12, 7, 1.3));
    }
    case Name::TrayArrowDownFill: {
        QPainterPath tray;
        tray.addRoundedRect(QRectF(2, 13, 20, 9), 2.5, 2.5);
        QPainterPath slot;
        slot.addRoundedRect(QRectF(7, 13, 10, 3.5), 1.5, 1.5);
        QPainterPath arrow;
        arrow.moveTo(12, 2);
        arrow.lineTo(12, 11);
        arrow.moveTo(8.2, 7.4);
        arrow.lineTo(12, 11.2);
        arrow.lineTo(15.8, 7.4);
        return tray.subtracted(slot).united(stroked(arrow, 2.2));
    }
    case Name::SquareStackUp: {
        // Two windows, one behind the other: the front one whole, the back one showing above and to the right.
        QPainterPath front;
        front.addRoundedRect(QRectF(3.5, 8.5, 12, 12), 2, 2);
        QPainterPath back;
        back.addPolygon(QPolygonF({{8.5, 8.5}, {8.5, 3.5}, {20.5, 3.5}, {20.5, 15.5}, {15.5, 15.5}})); // left open
        return stroked(front, 1.6).united(stroked(back, 1.6));
    }
    case Name::Plus: {
        QPainterPath cross;
        cross.moveTo(12, 4);
        cross.lineTo(12, 20);
        cross.moveTo(4, 12);
        cross.lineTo(20, 12);
        return stroked(cross, 2.2);
    }
    case Name::Checkmark: {
        QPainterPath tick;
        tick.moveTo(4.5, 12.5);
        tick.lineTo(9.5, 17.5);
        tick.lineTo(19.5, 6.5);
        return stroked(tick, 3.6);
    }
    case Name::Key:
        return key(4, 4, 1.15);
    case Name::PersonBadgeKey:
        return person(9, 7, 3.4, 19, 6.5).subtracted(circle(17.5, 16.5, 5.5)).united(key(13, 11.5, 0.72));
    case Name::Circle:
        return ring(12, 12, 9.6, 1.6);
    case Name::LargeCircleFillCircle:
        return ring(12, 12, 9.6, 1.6).united(circle(12, 12, 5.6));
    }
    return {};
}

} // namespace

QPixmap Symbol::pixmap(Name name, const QColor& color, double points, double scale)
{
    const int side = std::max(1, static_cast<int>(std::lround(points * scale)));
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(side / grid, side / grid);
    painter.fillPath(shape(name), color);
    painter.end();
    pixmap.setDevicePixelRatio(scale);
    return pixmap;
}

QIcon Symbol::icon(Name name, const QColor& color, double points)
{
    QIcon icon;
    for (const double scale : {1.0, 2.0})
        icon.addPixmap(pixmap(name, color, points, scale));
    return icon;
}

} // namespace korvel
