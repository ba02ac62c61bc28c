#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace korvel {

// A 128-bit UUID. Ours rather than libuuid: we need only random v4 and the canonical text form,
// and a plain value type with hashing and ordering is simpler to use than uuid_t.
class Uuid
{
public:
    Uuid() = default; // the nil UUID
    explicit Uuid(const std::array<uint8_t, 16>& bytes)
        : m_bytes(bytes)
    { }

    // A random (version 4) UUID from the system's random source.
    static Uuid random();
    // Parses the canonical 36-character 8-4-4-4-12 form, hexadecimal digits in either case.
    static std::optional<Uuid> parse(std::string_view text);

    // Canonical text; upper case unless asked otherwise.
    std::string toString(bool upperCase = true) const;
    std::string lowerString() const { return toString(false); }

    const std::array<uint8_t, 16>& bytes() const { return m_bytes; }
    bool isNil() const { return *this == Uuid(); }

    friend bool operator==(const Uuid&, const Uuid&) = default;
    friend auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    std::array<uint8_t, 16> m_bytes {};
};

} // namespace korvel

template<>
struct std::hash<korvel::Uuid>
{
    size_t operator()(const korvel::Uuid& id) const noexcept;
};
