#pragma once

#include <sys/types.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace korvel {

// CFBundleIdentifier of bundles, read again only when their Info.plist changes (path, modification time
// and size), so that scans and lookups cost one stat per bundle.
class BundleIdentifierCache
{
public:
    // The identifier of `bundle`, or nothing when its Info.plist is missing, unreadable or has none.
    std::optional<std::string> identifier(const std::filesystem::path& bundle);

private:
    struct Entry
    {
        timespec modified {};
        off_t size = 0;
        std::optional<std::string> identifier;
    };
    std::map<std::filesystem::path, Entry> m_entries;
};

} // namespace korvel
