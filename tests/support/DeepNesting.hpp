#pragma once

#include <cstddef>
#include <string>

namespace korvel::test {

// Documents whose containers nest `depth` deep, each holding only the next: what a hostile file looks like to a
// recursive reader.
namespace DeepNesting {

// <plist><array><array>…</array></array></plist>, or with <dict><key>k</key>… levels around a string.
std::string xmlPlist(size_t depth, bool dictionaries = false);
// The same arrays as a binary property list (bplist00).
std::string binaryPlist(size_t depth);
// {"k":{"k":…{}}}
std::string json(size_t depth);

} // namespace DeepNesting
} // namespace korvel::test
