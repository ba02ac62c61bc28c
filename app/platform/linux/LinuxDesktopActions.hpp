#pragma once

#include "app/platform/DesktopActions.hpp"
#include "core/support/DesktopEntry.hpp"
#include "core/support/XdgFolders.hpp"

#include <filesystem>

namespace korvel {

// The actions of korvel.desktop in the user's applications folder, which takes precedence over the installed
// entry: one [Desktop Action] per profile running `Korvel open <id>`, with the badge icon its app's registration
// installed. An entry that is not there yet is written as the link handler would write it; either way it keeps
// every key of the installed entry it hides (icon, comment, categories).
class LinuxDesktopActions : public DesktopActions
{
public:
    // `ownBundle` is Korvel.app; entries live in `dataHome`/applications.
    explicit LinuxDesktopActions(
        std::filesystem::path ownBundle, std::filesystem::path dataHome = XdgFolders::dataHome());

    // Throws FileError when the entry cannot be read or written, std::runtime_error when Korvel.app names no
    // executable.
    void setProfiles(std::vector<Profile> profiles) override;

private:
    DesktopEntry::Action actionFor(const Profile& profile, const std::filesystem::path& executable) const;

    std::filesystem::path m_ownBundle;
    std::filesystem::path m_applications;
};

} // namespace korvel
