#pragma once

#include <filesystem>
#include <sys/types.h>

namespace korvel {

// Folder creation with explicit permissions: every folder that this creates gets `mode` exactly
// (whatever the umask); folders that already exist are left as they are.
namespace Directories {

// Throws FileError (WriteUnknown) naming the folder that could not be created.
void create(const std::filesystem::path& folder, mode_t mode);

} // namespace Directories
} // namespace korvel
