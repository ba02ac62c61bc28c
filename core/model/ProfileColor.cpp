#include "core/model/ProfileColor.hpp"

namespace korvel {
namespace {

struct ColorEntry
{
    const char* raw;
    Rgb rgb;
};

constexpr std::array<ColorEntry, 10> table = {{
    {"orange", {0.85, 0.47, 0.34}},
    {"red", {0.86, 0.24, 0.24}},
    {"pink", {0.88, 0.33, 0.58}},
    {"purple", {0.58, 0.36, 0.85}},
    {"indigo", {0.35, 0.36, 0.84}},
    {"blue", {0.18, 0.48, 0.92}},
    {"teal", {0.10, 0.62, 0.66}},
    {"green", {0.20, 0.66, 0.33}},
    {"yellow", {0.90, 0.68, 0.10}},
    {"graphite", {0.42, 0.44, 0.47}},
}};

} // namespace

const std::array<ProfileColor, 10>& ProfileColor::allCases()
{
    static const std::array<ProfileColor, 10> cases = {
        Orange, Red, Pink, Purple, Indigo, Blue, Teal, Green, Yellow, Graphite};
    return cases;
}

std::optional<ProfileColor> ProfileColor::fromRawValue(std::string_view raw)
{
    for (size_t i = 0; i < table.size(); ++i) {
        if (raw == table[i].raw)
            return ProfileColor(static_cast<Case>(i));
    }
    return std::nullopt;
}

std::string ProfileColor::rawValue() const
{
    return table[static_cast<size_t>(m_case)].raw;
}

std::string ProfileColor::displayName() const
{
    std::string name = rawValue();
    name[0] = static_cast<char>(name[0] - 'a' + 'A');
    return name;
}

Rgb ProfileColor::rgb() const
{
    return table[static_cast<size_t>(m_case)].rgb;
}

} // namespace korvel
