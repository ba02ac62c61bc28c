#include "core/support/SearchPath.hpp"

#include "core/support/FileChecks.hpp"

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
        if (candidate.is_absolute() && FileChecks::isExecutableFile(candidate))
            return candidate;
    }
    return std::nullopt;
}

} // namespace korvel::SearchPath
