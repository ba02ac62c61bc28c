#include "core/model/Profile.hpp"

#include "core/support/UnicodeText.hpp"

#include <algorithm>
#include <cstdio>

namespace korvel {

std::string Profile::bundleIdentifier() const
{
    return std::string(bundleIdentifierPrefix) + id.lowerString();
}

std::string Profile::safeName() const
{
    std::string safe = UnicodeText::replaceAll(name, "/", "-");
    safe = UnicodeText::replaceAll(std::move(safe), ":", "-");
    safe = UnicodeText::trim(safe, [](char32_t c) { return c == U'.' || UnicodeText::isWhiteSpace(c); });
    return safe.empty() ? std::string("Profile") : safe;
}

std::string Profile::appDisplayName() const
{
    return "Claude " + safeName();
}

std::string Profile::letter() const
{
    const std::string cluster = UnicodeText::firstLetterOrNumberCluster(UnicodeText::trimWhiteSpace(name));
    return cluster.empty() ? std::string("?") : UnicodeText::toUpper(cluster);
}

std::optional<std::string> Profile::nameProblem(std::string_view name)
{
    for (size_t offset = 0; offset < name.size();) {
        const size_t start = offset;
        const char32_t c = UnicodeText::decodeAt(name, offset);
        char code[16];
        if (c == 0xFFFD && name.substr(start, offset - start) != "\uFFFD") {
            std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned>(static_cast<unsigned char>(name[start])));
            return "The name isn’t valid UTF-8 text: byte " + std::string(code) +
                (start == 0 ? " at its start." : " after “" + std::string(name.substr(0, start)) + "”.");
        }
        const bool control = (c < 0x20 && c != U'\t' && c != U'\n' && c != U'\r') || c == 0x7F;
        if (control || c == 0xFFFE || c == 0xFFFF) {
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
            return std::string("The name can’t contain the ") + (control ? "control " : "") + "character " + code + ".";
        }
    }
    return std::nullopt;
}

std::optional<Uuid> Profile::profileIDFromBundleIdentifier(std::string_view bundleIdentifier)
{
    if (!bundleIdentifier.starts_with(bundleIdentifierPrefix))
        return std::nullopt;
    return Uuid::parse(bundleIdentifier.substr(bundleIdentifierPrefix.size()));
}

ProfileColor Profile::firstUnusedColor(const std::vector<Profile>& profiles)
{
    for (const ProfileColor color : ProfileColor::allCases()) {
        if (std::none_of(
                profiles.begin(), profiles.end(), [color](const Profile& profile) { return profile.color == color; }))
            return color;
    }
    return ProfileColor::Blue;
}

} // namespace korvel

size_t std::hash<korvel::Profile>::operator()(const korvel::Profile& profile) const noexcept
{
    size_t h = std::hash<korvel::Uuid>()(profile.id);
    const auto mix = [&h](size_t value) { h ^= value + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2); };
    mix(std::hash<std::string>()(profile.name));
    mix(std::hash<std::string>()(profile.color.rawValue()));
    mix(std::hash<double>()(profile.createdAt.secondsSince1970));
    return h;
}
