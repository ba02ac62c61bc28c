#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvel {

// Claude Desktop's version as read from dpkg, package.json or an Info.plist goes into property lists, desktop
// entries and status texts: only what looks like a version is taken.
namespace ClaudeVersion {

inline constexpr size_t maximumLength = 64;

// `text` when it looks like a Debian or npm version: 1 to maximumLength characters, letters and digits of ASCII
// and . + - ~ :, the first a letter or digit. Otherwise nothing, with a line on standard error naming `source`.
std::optional<std::string> checked(std::string_view text, std::string_view source);

} // namespace ClaudeVersion
} // namespace korvel
