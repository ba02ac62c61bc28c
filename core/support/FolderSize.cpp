#include "core/support/FolderSize.hpp"

#include <array>
#include <cstdio>
#include <set>
#include <sys/stat.h>
#include <utility>

namespace korvel::FolderSize {
namespace {

using Counted = std::set<std::pair<dev_t, ino_t>>;

// The size of `item` and, for a folder, of everything in it; 0 for what is gone or a hard link already counted. A
// folder that cannot be read (or vanishes meanwhile, as a running app's files do) ends only its own part of the walk.
std::uintmax_t sizeOf(const std::filesystem::path& item, Counted& linked)
{
    struct stat status = {};
    if (::lstat(item.c_str(), &status) != 0)
        return 0;
    if (!S_ISDIR(status.st_mode)) {
        const bool counted = status.st_nlink > 1 && !linked.emplace(status.st_dev, status.st_ino).second;
        return counted ? 0 : static_cast<std::uintmax_t>(status.st_size);
    }
    std::uintmax_t total = static_cast<std::uintmax_t>(status.st_size);
    std::error_code error;
    for (auto entry = std::filesystem::directory_iterator(item, error);
         !error && entry != std::filesystem::directory_iterator(); entry.increment(error))
        total += sizeOf(entry->path(), linked);
    return total;
}

} // namespace

std::uintmax_t of(const std::filesystem::path& folder)
{
    Counted linked;
    return sizeOf(folder, linked);
}

std::string text(std::uintmax_t bytes)
{
    if (bytes < 1000)
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    constexpr std::array<const char*, 5> units {"KB", "MB", "GB", "TB", "PB"};
    double value = static_cast<double>(bytes) / 1000;
    size_t unit = 0;
    // Rounded as printed: 999.96 KB reads "1.0 MB", not "1000.0 KB".
    while (unit + 1 < units.size() && value >= (unit == 0 ? 999.5 : 999.95)) {
        value /= 1000;
        ++unit;
    }
    std::array<char, 32> printed {};
    std::snprintf(printed.data(), printed.size(), unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
    return printed.data();
}

} // namespace korvel::FolderSize
