#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvel {

// A point in time: seconds since 1970-01-01T00:00:00Z in double precision. Compared exactly.
struct Timestamp
{
    double secondsSince1970 = 0;

    static Timestamp now();
    // ISO 8601 in UTC with whole seconds (the fraction is truncated toward the past) and a trailing "Z".
    std::string iso8601() const;
    // Accepts YYYY-MM-DDTHH:MM:SS followed by "Z" or a ±HH:MM / ±HHMM offset; no fractional seconds.
    static std::optional<Timestamp> parseIso8601(std::string_view text);

    friend bool operator==(const Timestamp&, const Timestamp&) = default;
    friend auto operator<=>(const Timestamp&, const Timestamp&) = default;
};

} // namespace korvel
