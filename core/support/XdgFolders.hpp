#pragma once

#include <filesystem>
#include <optional>
#include <vector>

namespace korvel {

// The user's base folders as the XDG base-directory rules define them, read from the environment on every
// call so that tests and sandboxes only need to set variables. A variable counts only when it holds an
// absolute path.
namespace XdgFolders {

// $HOME, else the password database. Throws std::runtime_error when neither names a folder.
std::filesystem::path home();
// $XDG_DATA_HOME, else ~/.local/share.
std::filesystem::path dataHome();
// $XDG_CONFIG_HOME, else ~/.config.
std::filesystem::path configHome();
// The data folders in the order they are searched: dataHome(), then $XDG_DATA_DIRS (else /usr/local/share and
// /usr/share).
std::vector<std::filesystem::path> dataDirs();
// $XDG_RUNTIME_DIR when set; there is no fallback in the rules.
std::optional<std::filesystem::path> runtimeDir();

} // namespace XdgFolders
} // namespace korvel
