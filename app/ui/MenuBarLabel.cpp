#include "app/ui/MenuBarLabel.hpp"

#include "app/ui/BadgePixmap.hpp"
#include "app/ui/Symbol.hpp"

namespace korvel {
namespace {

constexpr double scales[] = {1.0, 1.5, 2.0, 3.0};

} // namespace

QIcon MenuBarLabel::icon() const
{
    // Trays are dark on some desktops and light on others: a mid grey disc with the figures cut out reads on both.
    const QColor neutral(128, 128, 128);
    QIcon icon;
    for (const double scale : scales) {
        QPixmap pixmap = profile ? BadgePixmap::render(profile->letter(), profile->color, badgeSize, scale)
                                 : Symbol::pixmap(Symbol::Name::PersonTwoCircleFill, neutral, badgeSize, scale);
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
