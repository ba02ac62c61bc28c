#pragma once

#include "core/building/PlistValue.hpp"
#include "core/model/Profile.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace korvel {

// Reads, rewrites and writes the Info.plist of a profile app. The rewrite is a pure function of the source
// dictionary, the profile and its data folder, so the builder and the health check agree on it.
namespace InfoPlistPatcher {

// Reads an XML or binary property list whose top level is a dictionary. Throws FileError:
// ReadNoSuchFile / ReadUnknown when the file cannot be read, PropertyListCorrupt (with a detail) when it is
// not a property list, PropertyListCorrupt (without one) when its top level is not a dictionary.
PlistDictionary read(const std::filesystem::path& file);

// The profile's copy of `plist`: identifier, display name, executable and icon of the profile app, no URL
// types, and Korvel's keys. Every other entry is kept as it is; KVLLauncherHash is left to the builder.
PlistDictionary patch(PlistDictionary plist, const Profile& profile, const std::filesystem::path& dataDir);

// Writes `plist` as an XML property list, atomically. Throws FileError (WriteUnknown); on failure the
// previous file is intact and nothing else is left behind.
void write(const PlistDictionary& plist, const std::filesystem::path& file);

// The colour's raw value, ":" and the badge letter, e.g. "teal:W".
std::string appearance(const Profile& profile);

// The entry `key` if it holds a string.
std::optional<std::string> stringValue(const PlistDictionary& plist, std::string_view key);

// The string entry `key` of the property list file, or nothing for any problem. Never throws.
std::optional<std::string> readStringValue(const std::filesystem::path& file, std::string_view key) noexcept;

} // namespace InfoPlistPatcher
} // namespace korvel
