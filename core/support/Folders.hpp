#pragma once

#include <filesystem>

namespace korvel {

// Creating folders with all missing intermediate folders, like `mkdir -p`. An existing folder (or a link
// to one) is fine and is left as it is. Throws FileError (WriteUnknown) with the failing path and errno.
namespace Folders {

// Missing folders get the default mode (0777 less the umask).
void create(const std::filesystem::path& folder);

// Missing folders get exactly 0700 whatever the umask: for profile data, which holds logins.
void createPrivate(const std::filesystem::path& folder);

} // namespace Folders
} // namespace korvel
