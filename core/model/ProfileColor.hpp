#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace korvel {

// Components in sRGB, 0…1; alpha is always 1.
struct Rgb
{
    double red = 0;
    double green = 0;
    double blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// The closed set of ten badge colours, in the order the interface offers them.
class ProfileColor
{
public:
    enum Case { Orange, Red, Pink, Purple, Indigo, Blue, Teal, Green, Yellow, Graphite };

    constexpr ProfileColor(Case c = Orange)
        : m_case(c)
    { }

    static const std::array<ProfileColor, 10>& allCases();
    // Exact, case-sensitive match against the raw values.
    static std::optional<ProfileColor> fromRawValue(std::string_view raw);

    Case value() const { return m_case; }
    std::string rawValue() const;
    std::string id() const { return rawValue(); }
    std::string displayName() const;
    Rgb rgb() const;

    friend bool operator==(const ProfileColor&, const ProfileColor&) = default;

private:
    Case m_case;
};

} // namespace korvel
