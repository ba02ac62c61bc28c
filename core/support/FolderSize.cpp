#include "core/support/FolderSize.hpp"

#include <array>
#include <cstdio>
#include <set>
#include <sys/stat.h>
#include <utility>

namespace korvel::FolderSize {
namespace {

// The size of `item` itself, 0 when it is gone or a hard link already counted.
std::uintmax_t sizeOf(const std::filesystem::path& item, std::set<std::pair<dev_t, ino_t>>& linked)
{
    struct stat status
    { };
    if (::lstat(item.c_str(), &status) != 0)
        return 0;
    if (!S_ISDIR(status.st_mode) && status.st_nlink > 1 && !linked.emplace(status.st_dev, status.st_ino).second)
        return 0;
    return static_cast<std::uintmax_t>(status.st_size);
}

} // namespace

std::uintmax_t of(const std::filesystem::path& folder)
{
    std::set<std::pair<dev_t, ino_t>> linked;
    std::uintmax_t total = sizeOf(folder, linked);
    std::error_code error;
    auto item = std::filesystem::recursive_directory_iterator(
        folder, std::filesystem::directory_options::skip_permission_denied, error);
    for (; !error && item != std::filesystem::recursive_directory_iterator(); item.increment(error))
        total += sizeOf(item->path(), linked);
    return total;
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
