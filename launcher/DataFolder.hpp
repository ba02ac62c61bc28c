#pragma once

#include <string>

namespace korvel::launcher {

// The profile's data folder: created on first start, private to the user.
namespace DataFolder {

// Creates the absolute folder `path` and any missing parents, each new folder with exactly the
// permissions 0700 whatever the umask; folders that exist stay as they are. Returns 0, or the errno of
// the step that failed.
int create(const std::string& path);

} // namespace DataFolder
} // namespace korvel::launcher
