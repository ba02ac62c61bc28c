#pragma once

#include <sys/types.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace korvel {

// What the workspace reads from bundles' Info.plist files — the identifier, and a profile app's data folder — read
// again only when the file changes (path, modification time and size), so that scans and lookups cost one stat
// per bundle.
class BundleInfoCache
{
public:
    // The identifier of `bundle`, or nothing when its Info.plist is missing, unreadable or has none.
    std::optional<std::string> identifier(const std::filesystem::path& bundle);
    // The data folder a profile app's launcher hands Claude, resolved as far as it exists; nothing for any other
    // bundle.
    std::optional<std::filesystem::path> dataFolder(const std::filesystem::path& bundle);

private:
    struct Entry
    {
        timespec modified {};
        off_t size = 0;
        std::optional<std::string> identifier;
        std::optional<std::filesystem::path> dataFolder;
    };
    const Entry* entry(const std::filesystem::path& bundle);
    std::map<std::filesystem::path, Entry> m_entries;
};

} // namespace korvel
