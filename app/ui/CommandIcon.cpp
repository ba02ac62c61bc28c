#include "app/ui/CommandIcon.hpp"

#include "app/ui/Symbol.hpp"

namespace korvel {

QIcon CommandIcon::icon(Command command, const QColor& ink)
{
    // Names from the freedesktop icon naming rules, which every icon theme follows.
    switch (command) {
    case Command::OpenAll:
        // No name means "open several apps"; window-new would promise an empty window.
        return Symbol::icon(Symbol::Name::SquareStackUp, ink);
    case Command::NewProfile:
        return QIcon::fromTheme("list-add", Symbol::icon(Symbol::Name::Plus, ink));
    case Command::ManageProfiles:
        return QIcon::fromTheme("system-users");
    case Command::Settings:
        return QIcon::fromTheme("preferences-system");
    case Command::Quit:
        return QIcon::fromTheme("application-exit");
    }
    return {};
}

} // namespace korvel
