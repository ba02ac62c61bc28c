#pragma once

#include "core/model/Profile.hpp"

#include <QIcon>
#include <QString>

#include <optional>

namespace korvel {

// The tray icon: the active profile's badge, or Korvel's two-people symbol when no profile is active.
struct MenuBarLabel
{
    static constexpr double badgeSize = 16;

    std::optional<Profile> profile; // the model's active profile when the label is built

    // Rendered for the scales a tray asks for, so that the tray never scales a small image up.
    QIcon icon() const;
    // "Active Claude account: <name>", or "Korvel"; the tray shows it as the icon's tool tip.
    QString accessibilityLabel() const;

    friend bool operator==(const MenuBarLabel&, const MenuBarLabel&) = default;
};

} // namespace korvel
