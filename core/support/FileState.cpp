#include "core/support/FileState.hpp"

#include <sys/stat.h>

namespace korvel {

std::optional<FileState> FileState::of(const std::filesystem::path& path)
{
    struct stat info
    { };
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return FileState {info.st_dev, info.st_ino, info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec,
        info.st_ctim.tv_sec, info.st_ctim.tv_nsec};
}

} // namespace korvel
