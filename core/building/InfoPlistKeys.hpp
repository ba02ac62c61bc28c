#pragma once

#include "core/model/ClaudeDesktop.hpp"

#include <string_view>

namespace korvel {

// The standard bundle keys Korvel reads or rewrites in an Info.plist.
namespace InfoPlistKeys {

inline constexpr std::string_view bundleIdentifier = "CFBundleIdentifier";
inline constexpr std::string_view bundleName = "CFBundleName";
inline constexpr std::string_view displayName = "CFBundleDisplayName";
inline constexpr std::string_view executable = "CFBundleExecutable";
inline constexpr std::string_view iconFile = "CFBundleIconFile";
inline constexpr std::string_view iconName = "CFBundleIconName";
inline constexpr std::string_view urlTypes = "CFBundleURLTypes";
inline constexpr std::string_view shortVersionString = ClaudeDesktop::versionKey;
inline constexpr std::string_view bundleVersion = "CFBundleVersion";

} // namespace InfoPlistKeys
} // namespace korvel
