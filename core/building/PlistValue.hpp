#pragma once

#include "core/model/Timestamp.hpp"

#include <concepts>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace korvel {

class PlistValue;
using PlistArray = std::vector<PlistValue>;
// std::less<> so that keys can be looked up with a std::string_view.
using PlistDictionary = std::map<std::string, PlistValue, std::less<>>;
using PlistData = std::vector<std::uint8_t>;

// One value of a property list. It holds every type a property list can hold, so that a dictionary read
// from a bundle and written back keeps the type of every entry we did not touch.
//
// Integers have one representation each: a value that fits std::int64_t is held as one, only larger values
// as std::uint64_t. Dates are held as Timestamp; the XML form keeps whole seconds.
class PlistValue
{
public:
    enum class Type { String, Integer, Real, Boolean, Date, Data, Array, Dictionary };

    // An empty string, so that a dictionary's operator[] works.
    PlistValue() = default;
    PlistValue(std::string value)
        : m_value(std::move(value))
    { }
    PlistValue(std::string_view value)
        : m_value(std::string(value))
    { }
    // Without this a string literal would become a boolean.
    PlistValue(const char* value)
        : m_value(std::string(value))
    { }
    template<std::integral T>
    requires(!std::same_as<T, bool>) PlistValue(T value)
    {
        if constexpr (std::signed_integral<T>)
            m_value = static_cast<std::int64_t>(value);
        else
            setUnsigned(value);
    }
    PlistValue(bool value)
        : m_value(value)
    { }
    PlistValue(double value)
        : m_value(value)
    { }
    PlistValue(Timestamp value)
        : m_value(value)
    { }
    PlistValue(PlistData value)
        : m_value(std::move(value))
    { }
    PlistValue(PlistArray value)
        : m_value(std::move(value))
    { }
    PlistValue(PlistDictionary value)
        : m_value(std::move(value))
    { }

    Type type() const;

    // Each accessor answers only for its own type (no conversions between types).
    const std::string* asString() const { return std::get_if<std::string>(&m_value); }
    // An integer that fits std::int64_t.
    std::optional<std::int64_t> asInteger() const;
    // An integer that is not negative.
    std::optional<std::uint64_t> asUnsignedInteger() const;
    std::optional<double> asReal() const;
    std::optional<bool> asBoolean() const;
    std::optional<Timestamp> asDate() const;
    const PlistData* asData() const { return std::get_if<PlistData>(&m_value); }
    const PlistArray* asArray() const { return std::get_if<PlistArray>(&m_value); }
    PlistArray* asArray() { return std::get_if<PlistArray>(&m_value); }
    const PlistDictionary* asDictionary() const { return std::get_if<PlistDictionary>(&m_value); }
    PlistDictionary* asDictionary() { return std::get_if<PlistDictionary>(&m_value); }

    friend bool operator==(const PlistValue&, const PlistValue&) = default;

private:
    void setUnsigned(std::uint64_t value);

    std::variant<std::string, std::int64_t, std::uint64_t, double, bool, Timestamp, PlistData, PlistArray,
        PlistDictionary>
        m_value;
};

} // namespace korvel
