#pragma once

#include "core/building/PlistValue.hpp"

#include <string>
#include <string_view>

namespace korvel {

// Property-list bytes ⇄ PlistValue, over libplist. Reads XML and binary property lists, writes XML only
// (the form the system's own tools write for Info.plist files).
namespace PropertyList {

// Parses XML or binary property-list bytes; any top-level type. Throws std::invalid_argument with a short
// reason when the bytes are not a property list we can keep whole, or PlistScreening finds a problem.
PlistValue parse(std::string_view bytes);

// The standard XML property-list document (version 1.0) of `root`. Throws std::out_of_range for a value the
// XML form cannot hold: a date outside the years 1000 to 9999, a NUL character in a string or key.
std::string toXml(const PlistValue& root);

} // namespace PropertyList
} // namespace korvel
