#pragma once

#include <cstddef>
#include <string_view>

namespace korvel {

// How deep the arrays and dictionaries of property-list bytes nest, found without building them: libplist and
// every reader of its trees recurse once per level, so a file nested tens of thousands deep would overflow the
// stack of whoever reads it. Bundles nest a handful of levels.
namespace PlistNesting {

inline constexpr size_t limit = 512;

// Whether the containers of `bytes` (binary when they start with "bplist00", else XML) nest no deeper than
// `limit`. A binary list whose objects refer to each other in a circle never ends and is not within any limit.
// Bytes that are not a property list at all count as within: the parser refuses them on its own.
bool within(std::string_view bytes, size_t limit = PlistNesting::limit);

} // namespace PlistNesting
} // namespace korvel
