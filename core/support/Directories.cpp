#include "core/support/Directories.hpp"

#include "core/support/FileError.hpp"

#include <cerrno>
#include <sys/stat.h>

namespace korvel::Directories {

void create(const std::filesystem::path& folder, mode_t mode)
{
    struct stat info
    { };
    if (::stat(folder.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return;
        FileError::throwWrite(folder, ENOTDIR);
    }
    const std::filesystem::path parent = folder.parent_path();
    if (!parent.empty() && parent != folder)
        create(parent, mode);
    if (::mkdir(folder.c_str(), mode) != 0) {
        if (errno == EEXIST && ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            return; // made by someone else in the meantime
        FileError::throwWrite(folder, errno);
    }
    // mkdir applies the umask; the mode must be exact.
    if (::chmod(folder.c_str(), mode) != 0)
        FileError::throwWrite(folder, errno);
}

} // namespace korvel::Directories
