#include "core/support/FileChecks.hpp"

#include <sys/stat.h>
#include <unistd.h>

namespace korvel::FileChecks {

namespace fs = std::filesystem;

bool isRegularFile(const fs::path& path)
{
    struct stat info
    { };
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool isExecutableFile(const fs::path& path)
{
    return isRegularFile(path) && ::access(path.c_str(), X_OK) == 0;
}

std::optional<fs::path> resolved(const fs::path& path)
{
    std::error_code error;
    fs::path result = fs::canonical(path, error);
    if (error)
        return std::nullopt;
    return result;
}

std::optional<fs::path> linkTarget(const fs::path& path)
{
    std::error_code error;
    fs::path target = fs::read_symlink(path, error);
    if (error)
        return std::nullopt;
    return target;
}

} // namespace korvel::FileChecks
