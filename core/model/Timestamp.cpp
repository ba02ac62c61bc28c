#include "core/model/Timestamp.hpp"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace korvel {
namespace {

bool digits(std::string_view text, size_t at, size_t count, int& value)
{
    if (at + count > text.size())
        return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// Offset in seconds east of UTC, or nullopt when the zone designator is malformed.
std::optional<int> zoneOffset(std::string_view zone)
{
    if (zone == "Z")
        return 0;
    if (zone.size() != 6 && zone.size() != 5)
        return std::nullopt;
    if (zone[0] != '+' && zone[0] != '-')
        return std::nullopt;
    int hours = 0;
    int minutes = 0;
    const bool colon = zone.size() == 6;
    if (!digits(zone, 1, 2, hours) || (colon && zone[3] != ':') || !digits(zone, colon ? 4 : 3, 2, minutes))
        return std::nullopt;
    if (hours > 23 || minutes > 59)
        return std::nullopt;
    const int offset = hours * 3600 + minutes * 60;
    return zone[0] == '-' ? -offset : offset;
}

} // namespace

Timestamp Timestamp::now()
{
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return {std::chrono::duration<double>(since).count()};
}

std::string Timestamp::iso8601() const
{
    using namespace std::chrono;
    const sys_seconds whole {seconds(static_cast<long long>(std::floor(secondsSince1970)))};
    const auto day = floor<days>(whole);
    const year_month_day date {day};
    const hh_mm_ss time {whole - day};
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02lld:%02lld:%02lldZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<long long>(time.hours().count()), static_cast<long long>(time.minutes().count()),
        static_cast<long long>(time.seconds().count()));
    return text;
}

std::optional<Timestamp> Timestamp::parseIso8601(std::string_view text)
{
    using namespace std::chrono;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (text.size() < 20 || !digits(text, 0, 4, y) || text[4] != '-' || !digits(text, 5, 2, mo) || text[7] != '-' ||
        !digits(text, 8, 2, d) || text[10] != 'T' || !digits(text, 11, 2, h) || text[13] != ':' ||
        !digits(text, 14, 2, mi) || text[16] != ':' || !digits(text, 17, 2, s))
        return std::nullopt;
    const auto offset = zoneOffset(text.substr(19));
    if (!offset)
        return std::nullopt;
    const year_month_day date {year(y), month(static_cast<unsigned>(mo)), day(static_cast<unsigned>(d))};
    if (!date.ok() || h > 23 || mi > 59 || s > 59)
        return std::nullopt;
    const auto moment = sys_days(date) + hours(h) + minutes(mi) + seconds(s) - seconds(*offset);
    return Timestamp {static_cast<double>(moment.time_since_epoch().count())};
}

} // namespace korvel
