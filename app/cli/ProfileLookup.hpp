#pragma once

#include "core/model/Profile.hpp"

#include <string>
#include <vector>

namespace korvel {

// Finds the profile a person named on the command line: by its exact name, else by its name in any letter
// case when only one profile has it, else by its ID.
struct ProfileLookup
{
    // Throws UsageError, listing the candidates, when no profile or more than one answers to `text`.
    static Profile find(const std::vector<Profile>& profiles, const std::string& text);
};

} // namespace korvel
