#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

namespace korvel {

// The small line symbols of the interface, drawn by us so that they look the same on every desktop, whatever
// icon theme it has.
namespace Symbol {

enum class Name {
    PersonTwoCircle, // two people in a circle: Korvel itself
    PersonTwoCircleFill,
    ExclamationTriangle,
    ExclamationTriangleFill,
    ExclamationCircle,
    InfoCircle,
    TrayArrowDownFill,
    SquareStackUp,
    Plus,
    Checkmark,
    Key,
    PersonBadgeKey,
    Circle,
    LargeCircleFillCircle,
};

// The symbol in `color` on a transparent square of `points`, drawn at `scale` device pixels per point.
QPixmap pixmap(Name name, const QColor& color, double points, double scale);
// The symbol at the usual scales, for buttons, actions and the tray.
QIcon icon(Name name, const QColor& color, double points = 16);

} // namespace Symbol
} // namespace korvel
