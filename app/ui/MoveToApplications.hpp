#pragma once

#include "app/model/MoveToApplications.hpp"

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace korvel {

// The offer, right after launch, to copy Korvel from where it was unpacked or mounted into an Applications folder
// and start it from there. isInApplications is the model's, which needs it for the first-run login item.
namespace MoveToApplications {

// True when `bundle` runs from a place it is not meant to stay in: a mounted disk image or removable volume
// (/Volumes/, /media/, /run/media/), the system's randomised copy of a quarantined download (…/AppTranslocation/…),
// or the read-only mount of a self-mounting image (/tmp/.mount_…). A Downloads folder or any other ordinary
// folder is not: Korvel works from there and only the user knows whether it should move.
bool isTemporaryLocation(const std::filesystem::path& bundle);

// Everything the offer touches, so that tests can play it with temporary folders and scripted answers.
struct System
{
    std::filesystem::path bundle; // the running Korvel.app
    std::vector<std::filesystem::path> destinations; // tried in order
    std::function<bool()> askToMove; // true for "Move to Applications"
    std::function<void()> tellMoveFailed;
    std::function<bool(const std::filesystem::path& item)> moveToTrash; // false when it could not
    std::function<void(const std::filesystem::path& target)> stripQuarantine; // may fail silently
    std::function<void(const std::filesystem::path& target)> relaunch; // starts the copy, then ends this process

    // The desktop's: modal alerts, the FreeDesktop trash, /Applications then ~/Applications, and `relaunch`.
    static System live(std::filesystem::path bundle, std::filesystem::path home,
        std::function<void(const std::filesystem::path& target)> relaunch);
};

// Offers the move when the bundle is in a temporary location; on "Move to Applications" copies it into the first
// destination that takes it (an older copy there goes to the trash first) and relaunches from there. When no
// destination takes it, tells the user and keeps running. Returns the copy's location when it moved.
std::optional<std::filesystem::path> offerIfNeeded(const System& system);

} // namespace MoveToApplications
} // namespace korvel
