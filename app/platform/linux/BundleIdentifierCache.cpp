#include "app/platform/linux/BundleIdentifierCache.hpp"

#include "core/building/AppBundle.hpp"

#include <sys/stat.h>

namespace korvel {

std::optional<std::string> BundleIdentifierCache::identifier(const std::filesystem::path& bundle)
{
    struct stat info
    { };
    if (::stat(AppBundle::infoPlist(bundle).c_str(), &info) != 0) {
        m_entries.erase(bundle);
        return std::nullopt;
    }
    const auto cached = m_entries.find(bundle);
    if (cached != m_entries.end() && cached->second.size == info.st_size &&
        cached->second.modified.tv_sec == info.st_mtim.tv_sec &&
        cached->second.modified.tv_nsec == info.st_mtim.tv_nsec)
        return cached->second.identifier;
    Entry entry {info.st_mtim, info.st_size, AppBundle::identifier(bundle)};
    m_entries[bundle] = entry;
    return entry.identifier;
}

} // namespace korvel
