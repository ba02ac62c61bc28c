#pragma once

#include "core/model/Profile.hpp"

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QMenu;

namespace korvel {

class AppModel;

// The tray menu: the active profile, one row per profile, and Korvel's commands. Built as a list of entries
// first, so that the menu is only rebuilt when what it shows changes.
namespace MenuBarContent {

struct Entry
{
    // MoreProfiles opens a submenu that holds the Profile rows after it, up to the next separator.
    enum class Kind { Text, Profile, MoreProfiles, Separator, OpenAll, NewProfile, ManageProfiles, Settings, Quit };
    Kind kind;
    std::string text;
    bool enabled = true;
    std::optional<Profile> profile; // the profile a Profile row opens
    std::string toolTip; // why a command is off

    friend bool operator==(const Entry&, const Entry&) = default;
};

// What the commands do; `open` is called with the profile of the row.
struct Actions
{
    std::function<void(const Profile&)> open;
    std::function<void()> openAll;
    std::function<void()> newProfile;
    std::function<void()> manageProfiles;
    std::function<void()> settings;
    std::function<void()> quit;
};

inline constexpr double rowBadgeSize = 14;
// The widest a row's text is drawn, in device-independent pixels; longer names end in "…".
inline constexpr int maximumTextWidth = 280;
// Profile rows in the menu itself; with more profiles, the rest go into "More Profiles". A menu taller than the
// screen would otherwise be split into columns, with "Quit Korvel" at the top of the last one.
inline constexpr int profileRowsPerMenu = 14;
inline constexpr std::string_view runningSuffix = " — Running";

// The entries for the model's state, top to bottom.
std::vector<Entry> entries(const AppModel& model);
// Replaces the menu's actions with `entries`; badges are drawn at `scale` device pixels per point.
void fill(QMenu& menu, const std::vector<Entry>& entries, const Actions& actions, double scale);

} // namespace MenuBarContent
} // namespace korvel
