#pragma once

#include "tests/app/support/ModelSandbox.hpp"

#include <array>

namespace korvel::test {

// The sandbox with profiles set up in one step, as an earlier run of Korvel would have left them:
// `const auto [work, home] = built("Work", "Home");`
class ModelTest : public ModelSandbox
{
protected:
    // Stores the profiles as the whole list.
    template<typename... Names>
    std::array<Profile, sizeof...(Names)> stored(const Names&... names)
    {
        const std::array<Profile, sizeof...(Names)> profiles {makeProfile(names)...};
        storeProfiles({profiles.begin(), profiles.end()});
        return profiles;
    }

    // Stores the profiles and builds their apps.
    template<typename... Names>
    std::array<Profile, sizeof...(Names)> built(const Names&... names)
    {
        const auto profiles = stored(names...);
        for (const Profile& profile : profiles)
            buildApp(profile);
        return profiles;
    }
};

} // namespace korvel::test
