#include "app/ui/MenuBarLabel.hpp"

#include "app/ui/BadgePixmap.hpp"
#include "app/ui/Symbol.hpp"

#include <QApplication>
#include <QPalette>

namespace korvel {
namespace {

constexpr double scales[] = {1.0, 1.5, 2.0, 3.0};

} // namespace

QIcon MenuBarLabel::icon() const
{
    QIcon icon;
    for (const double scale : scales) {
        QPixmap pixmap = profile ? BadgePixmap::render(profile->letter(), profile->color, badgeSize, scale)
                                 : Symbol::pixmap(Symbol::Name::PersonTwoCircle,
                                       QApplication::palette().color(QPalette::WindowText), badgeSize, scale);
        // The tray sizes icons in pixels; a pixmap that claims a ratio would be drawn at a quarter of its slot.
        pixmap.setDevicePixelRatio(1.0);
        icon.addPixmap(pixmap);
    }
    return icon;
}

QString MenuBarLabel::accessibilityLabel() const
{
    if (profile)
        return "Active Claude account: " + QString::fromStdString(profile->name);
    return "Korvel";
}

} // namespace korvel
