#include "core/building/PlistValue.hpp"

#include <limits>
#include <type_traits>

namespace korvel {
namespace {

constexpr auto int64Max = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

template<typename T>
std::optional<T> valueOf(const auto& variant)
{
    if (const T* value = std::get_if<T>(&variant))
        return *value;
    return std::nullopt;
}

} // namespace

void PlistValue::setUnsigned(std::uint64_t value)
{
    if (value <= int64Max)
        m_value = static_cast<std::int64_t>(value);
    else
        m_value = value;
}

PlistValue::Type PlistValue::type() const
{
    return std::visit(
        [](const auto& value) {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, std::string>)
                return Type::String;
            else if constexpr (std::is_same_v<T, std::int64_t> || std::is_same_v<T, std::uint64_t>)
                return Type::Integer;
            else if constexpr (std::is_same_v<T, double>)
                return Type::Real;
            else if constexpr (std::is_same_v<T, bool>)
                return Type::Boolean;
            else if constexpr (std::is_same_v<T, Timestamp>)
                return Type::Date;
            else if constexpr (std::is_same_v<T, PlistData>)
                return Type::Data;
            else if constexpr (std::is_same_v<T, PlistArray>)
                return Type::Array;
            else
                return Type::Dictionary;
        },
        m_value);
}

std::optional<std::int64_t> PlistValue::asInteger() const
{
    return valueOf<std::int64_t>(m_value);
}

std::optional<std::uint64_t> PlistValue::asUnsignedInteger() const
{
    if (const auto* value = std::get_if<std::int64_t>(&m_value))
        return *value >= 0 ? std::optional<std::uint64_t>(static_cast<std::uint64_t>(*value)) : std::nullopt;
    return valueOf<std::uint64_t>(m_value);
}

std::optional<double> PlistValue::asReal() const
{
    return valueOf<double>(m_value);
}

std::optional<bool> PlistValue::asBoolean() const
{
    return valueOf<bool>(m_value);
}

std::optional<Timestamp> PlistValue::asDate() const
{
    return valueOf<Timestamp>(m_value);
}

} // namespace korvel
