#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvel::launcher {

// How the launcher tells the user it cannot start Claude: a line on standard error and a desktop
// notification with one "OK" button, shown without waiting for anyone.
namespace Notice {

// Where the notification is sent from; a system without it simply shows none. KORVEL_GDBUS, when set,
// names another program in its place.
inline constexpr const char* gdbusPath = "/usr/bin/gdbus";

// Writes "KorvelLauncher: " + message, posts the notification and exits with status 1.
[[noreturn]] void fail(const std::string& message);

// The notification's text: the message and the advice to rebuild the profile app.
std::string text(const std::string& message);

// The gdbus command line (argument zero first) that posts the notification for `message`.
std::vector<std::string> notifyCommand(const std::string& message);

// `text` as a GVariant string literal in single quotes, escaped so that gdbus reads back exactly `text`.
std::string variantString(std::string_view text);

} // namespace Notice
} // namespace korvel::launcher
