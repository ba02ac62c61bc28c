#include "core/support/Folders.hpp"

#include "core/support/FileError.hpp"

#include <cerrno>
#include <optional>
#include <sys/stat.h>
#include <vector>

namespace korvel::Folders {
namespace {

bool isFolder(const std::filesystem::path& path)
{
    struct stat info
    { };
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The missing part of `folder`, outermost first. Throws when an existing part is not a folder.
std::vector<std::filesystem::path> missingFolders(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> missing;
    for (std::filesystem::path path = folder; !path.empty(); path = path.parent_path()) {
        struct stat info
        { };
        if (::stat(path.c_str(), &info) == 0) {
            if (!S_ISDIR(info.st_mode))
                FileError::throwWrite(path, ENOTDIR);
            break;
        }
        if (errno != ENOENT)
            FileError::throwWrite(path, errno);
        missing.push_back(path);
        if (path == path.parent_path())
            break;
    }
    return {missing.rbegin(), missing.rend()};
}

void make(const std::filesystem::path& folder, std::optional<mode_t> exactMode)
{
    for (const std::filesystem::path& path : missingFolders(folder)) {
        if (::mkdir(path.c_str(), exactMode.value_or(0777)) != 0) {
            const int error = errno;
            // Someone else made it meanwhile (or the path repeats with a trailing slash): not ours to change.
            if (error == EEXIST && isFolder(path))
                continue;
            FileError::throwWrite(path, error);
        }
        // mkdir applies the umask; a private folder must not end up stricter or looser than asked.
        if (exactMode && ::chmod(path.c_str(), *exactMode) != 0)
            FileError::throwWrite(path, errno);
    }
}

} // namespace

void create(const std::filesystem::path& folder)
{
    make(folder, std::nullopt);
}

void createPrivate(const std::filesystem::path& folder)
{
    make(folder, 0700);
}

} // namespace korvel::Folders
