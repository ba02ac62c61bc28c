#pragma once

#include "app/platform/linux/BundleInfoCache.hpp"

#include <filesystem>
#include <map>
#include <optional>
#include <set>

namespace korvel {

// Which profile app a data folder belongs to: every profile app's launcher starts Claude with its bundle's data
// folder on the command line, and Chromium hands that switch on to its helpers, so the folder tells a profile's
// processes apart although they all run one installed program. Profile apps are found in their folder and among
// the bundles named to it; a bundle a process names itself only counts once its own data folder agrees.
class DataFolderIndex
{
public:
    // Where profile apps live; nothing: only bundles named through add().
    void setFolder(std::optional<std::filesystem::path> folder);
    // A bundle known to be an app (Korvel opened it).
    void add(const std::filesystem::path& bundle);

    // The app whose data folder is `dataFolder` (resolved). The folder of apps is looked at again when it is not
    // known yet; `named`, a bundle the process claims to be from, is checked against its own data folder.
    std::optional<std::filesystem::path> bundleFor(
        const std::filesystem::path& dataFolder, const std::optional<std::filesystem::path>& named);

private:
    std::optional<std::filesystem::path> known(const std::filesystem::path& dataFolder);
    void lookAtFolder();

    BundleInfoCache m_info;
    std::optional<std::filesystem::path> m_folder;
    std::set<std::filesystem::path> m_bundles; // resolved
};

} // namespace korvel
