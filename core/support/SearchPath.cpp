#include "core/support/SearchPath.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace korvel::SearchPath {

std::optional<std::filesystem::path> find(std::string_view program)
{
    if (program.find('/') != std::string_view::npos)
        return std::filesystem::path(program);
    const char* value = std::getenv("PATH");
    std::string_view folders = value ? value : "";
    while (!folders.empty()) {
        const size_t end = std::min(folders.find(':'), folders.size());
        const std::filesystem::path candidate = std::filesystem::path(folders.substr(0, end)) / program;
        folders.remove_prefix(std::min(end + 1, folders.size()));
        struct stat info
        { };
        if (candidate.is_absolute() && ::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

} // namespace korvel::SearchPath
