#include "app/cli/ProfileLookup.hpp"

#include "app/cli/UsageError.hpp"
#include "core/support/UnicodeText.hpp"

#include <algorithm>

namespace korvel {
namespace {

std::vector<Profile> matching(const std::vector<Profile>& profiles, auto matches)
{
    std::vector<Profile> found;
    std::copy_if(profiles.begin(), profiles.end(), std::back_inserter(found), matches);
    return found;
}

// “Work” (ID), “work” (ID)
std::string listed(const std::vector<Profile>& profiles)
{
    std::string list;
    for (const Profile& profile : profiles)
        list += (list.empty() ? "" : ", ") + ("“" + profile.name + "” (" + profile.id.toString() + ")");
    return list;
}

UsageError ambiguous(const std::string& text, const std::vector<Profile>& candidates)
{
    return UsageError("“" + text + "” could be " + listed(candidates) + ". Name one by its ID.");
}

} // namespace

Profile ProfileLookup::find(const std::vector<Profile>& profiles, const std::string& text)
{
    const auto exact = matching(profiles, [&text](const Profile& profile) { return profile.name == text; });
    if (exact.size() == 1)
        return exact.front();
    if (exact.size() > 1)
        throw ambiguous(text, exact);

    const std::string folded = UnicodeText::toUpper(text);
    const auto anyCase =
        matching(profiles, [&folded](const Profile& profile) { return UnicodeText::toUpper(profile.name) == folded; });
    if (anyCase.size() == 1)
        return anyCase.front();
    if (anyCase.size() > 1)
        throw ambiguous(text, anyCase);

    if (const auto id = Uuid::parse(text)) {
        const auto byID = matching(profiles, [&id](const Profile& profile) { return profile.id == *id; });
        if (!byID.empty())
            return byID.front();
    }
    if (profiles.empty())
        throw UsageError("There is no profile “" + text + "”: there are no profiles yet.");
    throw UsageError("There is no profile “" + text + "”. The profiles are " + listed(profiles) + ".");
}

} // namespace korvel
