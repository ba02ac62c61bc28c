#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace korvel {

// The framing of messages between Korvel processes on the single-instance socket: a 4-byte big-endian length,
// then that many bytes of UTF-8 JSON holding one object with a "type" (see SingleInstance).
namespace InstanceMessage {

inline constexpr std::uint32_t maximumSize = 1 << 20;

// One frame holding `message`.
std::string encode(const nlohmann::json& message);

// Takes the first complete frame off the front of `buffer`; nothing while it is incomplete. Throws
// std::runtime_error for a frame larger than maximumSize or one that is not a JSON object; the connection
// cannot be trusted after that.
std::optional<nlohmann::json> take(std::string& buffer);

} // namespace InstanceMessage
} // namespace korvel
