#pragma once

#include "core/model/ProfileColor.hpp"
#include "core/model/Timestamp.hpp"
#include "core/model/Uuid.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// One Claude account run side by side with the others. Everything derived from it (the profile
// app's identifier, names and badge letter) is computed here so that every part agrees.
struct Profile
{
    Uuid id;
    std::string name;
    ProfileColor color;
    Timestamp createdAt;

    static constexpr std::string_view bundleIdentifierPrefix = "com.veldrane.Korvel.profile.";

    // The prefix and the lower-case UUID.
    std::string bundleIdentifier() const;
    // The name made safe for a file name: "/" and ":" become "-", white space and full stops trimmed
    // at both ends, "Profile" when nothing is left.
    std::string safeName() const;
    // "Claude " followed by safeName().
    std::string appDisplayName() const;
    // The upper-cased first letter or number of the trimmed name, "?" when there is none.
    std::string letter() const;

    // Why `name` cannot be a profile's name although it is not blank: what the file names, XML property lists and
    // desktop entries built from it cannot hold (ill-formed UTF-8, control characters other than tab, line feed and
    // carriage return, U+FFFE and U+FFFF), said with the character. Nothing when it can be.
    static std::optional<std::string> nameProblem(std::string_view name);
    // The profile UUID a bundle identifier encodes, if it is one of ours.
    static std::optional<Uuid> profileIDFromBundleIdentifier(std::string_view bundleIdentifier);
    // The colour a new profile starts with: the first one no profile uses, else blue.
    static ProfileColor firstUnusedColor(const std::vector<Profile>& profiles);

    friend bool operator==(const Profile&, const Profile&) = default;
};

} // namespace korvel

template<>
struct std::hash<korvel::Profile>
{
    size_t operator()(const korvel::Profile& profile) const noexcept;
};
