#pragma once

#include "app/platform/DesktopActions.hpp"

#include <optional>

namespace korvel {

// Records the last list it was given.
class FakeDesktopActions : public DesktopActions
{
public:
    std::optional<std::vector<Profile>> listed;

    void setProfiles(std::vector<Profile> profiles) override { listed = std::move(profiles); }
};

} // namespace korvel
