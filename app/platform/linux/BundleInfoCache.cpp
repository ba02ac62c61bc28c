#include "app/platform/linux/BundleInfoCache.hpp"

#include "core/building/AppBundle.hpp"
#include "core/building/InfoPlistKeys.hpp"
#include "core/building/InfoPlistPatcher.hpp"
#include "core/building/ProfileBundleKeys.hpp"

#include <sys/stat.h>

namespace korvel {

std::optional<std::string> BundleInfoCache::identifier(const std::filesystem::path& bundle)
{
    const Entry* found = entry(bundle);
    return found ? found->identifier : std::nullopt;
}

std::optional<std::filesystem::path> BundleInfoCache::dataFolder(const std::filesystem::path& bundle)
{
    const Entry* found = entry(bundle);
    return found ? found->dataFolder : std::nullopt;
}

const BundleInfoCache::Entry* BundleInfoCache::entry(const std::filesystem::path& bundle)
{
    const std::filesystem::path file = AppBundle::infoPlist(bundle);
    struct stat info
    { };
    if (::stat(file.c_str(), &info) != 0) {
        m_entries.erase(bundle);
        return nullptr;
    }
    const auto cached = m_entries.find(bundle);
    if (cached != m_entries.end() && cached->second.size == info.st_size &&
        cached->second.modified.tv_sec == info.st_mtim.tv_sec &&
        cached->second.modified.tv_nsec == info.st_mtim.tv_nsec)
        return &cached->second;
    Entry entry {info.st_mtim, info.st_size, std::nullopt, std::nullopt};
    try {
        const PlistDictionary plist = InfoPlistPatcher::read(file);
        entry.identifier = InfoPlistPatcher::stringValue(plist, InfoPlistKeys::bundleIdentifier);
        if (const auto folder = InfoPlistPatcher::stringValue(plist, ProfileBundleKeys::userDataDir);
            folder && folder->starts_with('/'))
            entry.dataFolder = AppBundle::resolvedLocation(*folder);
    } catch (const std::exception&) {
        // Unreadable: neither an identifier nor a data folder, until the file changes.
    }
    return &(m_entries[bundle] = std::move(entry));
}

} // namespace korvel
