#include "app/platform/linux/LinuxDesktopActions.hpp"

#include "core/building/AppBundle.hpp"
#include "core/building/DesktopRegistration.hpp"
#include "core/support/FileError.hpp"

#include <stdexcept>

namespace korvel {

LinuxDesktopActions::LinuxDesktopActions(std::filesystem::path ownBundle, std::filesystem::path dataHome)
    : m_ownBundle(std::move(ownBundle))
    , m_applications(std::move(dataHome) / "applications")
{ }

DesktopEntry::Action LinuxDesktopActions::actionFor(
    const Profile& profile, const std::filesystem::path& executable) const
{
    DesktopEntry::Action action {profile.id, {{"Name", profile.appName}}};
    try {
        const DesktopEntry app =
            DesktopEntry::read(m_applications / DesktopRegistration::fileName(profile.bundleIdentifier));
        if (const auto icon = app.value("Icon"))
            action.entries.emplace_back("Icon", *icon);
    } catch (const FileError&) {
        // not built yet: no icon until it is
    }
    action.entries.emplace_back("Exec", DesktopEntry::execLine({executable.string(), "open", profile.id}));
    return action;
}

void LinuxDesktopActions::setProfiles(std::vector<Profile> profiles)
{
    const auto executable = AppBundle::executable(m_ownBundle);
    if (!executable)
        throw std::runtime_error(m_ownBundle.string() + ": Info.plist lacks CFBundleExecutable");
    const std::filesystem::path file = m_applications / DesktopRegistration::ownFileName;
    DesktopEntry entry;
    try {
        entry = DesktopEntry::read(file);
    } catch (const FileError&) {
        if (profiles.empty())
            return; // nothing to list, and the installed entry serves
        entry = DesktopRegistration::entryFor(m_ownBundle, "%u");
    }
    std::vector<DesktopEntry::Action> actions;
    for (const Profile& profile : profiles)
        actions.push_back(actionFor(profile, *executable));
    entry.setActions(std::move(actions));
    DesktopRegistration::keepInstalledKeys(entry, DesktopRegistration::installedDataDirs(m_applications.parent_path()));
    entry.writeIfChanged(file);
}

} // namespace korvel
