#pragma once

#include <string>
#include <vector>

namespace korvel {

// The profiles as actions of Korvel's own entry in the desktop's menus and docks, so that a right click on
// Korvel opens any of them. Main thread only.
class DesktopActions
{
public:
    struct Profile
    {
        std::string id;
        std::string appName; // "Claude Work"
        std::string bundleIdentifier; // of its app, whose icon the action shows once the app is built
        friend bool operator==(const Profile&, const Profile&) = default;
    };

    virtual ~DesktopActions() = default;

    // Lists `profiles` in this order, replacing what was listed; throws std::exception with the reason on failure.
    virtual void setProfiles(std::vector<Profile> profiles) = 0;
};

} // namespace korvel
