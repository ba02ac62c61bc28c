#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace korvel {

// What libplist must never be handed, found without building anything:
// - containers nested deeper than `depthLimit`: libplist and every reader of its trees recurse once per level, so
//   a file nested tens of thousands deep would overflow the stack of whoever reads it (bundles nest a handful of
//   levels);
// - in a binary list, a dictionary key that is not plain text (no string at all, a NUL, a byte above 0x7F in a
//   one-byte string, a zero in a two-byte one): libplist 2.2 takes any object as a key and ends the process on an
//   assertion when one whose text holds a NUL is read.
// A binary list whose objects refer to each other in a circle never ends and counts as too deep.
namespace PlistScreening {

inline constexpr size_t depthLimit = 512;

// What is wrong with `bytes` (binary when they start with "bplist00", else XML), in a few words, or nothing.
// Bytes that are not a property list at all pass: the parser refuses them on its own.
std::optional<std::string> problem(std::string_view bytes, size_t depthLimit = PlistScreening::depthLimit);

} // namespace PlistScreening
} // namespace korvel
