#pragma once

#include <QColor>
#include <QIcon>

namespace korvel {

// Icons of Korvel's commands in the toolbar and the menus: the desktop's icon theme's where it has them, else our
// own drawing where we have one (menus then show none).
namespace CommandIcon {

enum class Command { OpenAll, NewProfile, ManageProfiles, Settings, Quit };

// `ink` colours our own drawing.
QIcon icon(Command command, const QColor& ink);

} // namespace CommandIcon
} // namespace korvel
