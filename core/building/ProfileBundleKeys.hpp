#pragma once

#include <string_view>

namespace korvel {

// Korvel's own entries in a profile app's Info.plist (all hold strings), and two fixed names in its bundle.
namespace ProfileBundleKeys {

// The profile's data folder as a plain absolute path; the launcher hands it to Claude.
inline constexpr std::string_view userDataDir = "KVLUserDataDir";
// The profile's UUID, upper case.
inline constexpr std::string_view profileID = "KVLProfileID";
// The Claude Desktop version the app was built from, or "unknown".
inline constexpr std::string_view sourceVersion = "KVLSourceVersion";
// Colour and badge letter of the icon, e.g. "orange:W".
inline constexpr std::string_view appearance = "KVLAppearance";
// SHA-256 of the launcher copied into the app, 64 lower-case hexadecimal digits.
inline constexpr std::string_view launcherHash = "KVLLauncherHash";
// How the app's windows get the profile's identity in a Wayland session: a TaskBarIdentities raw value. Missing
// means "native".
inline constexpr std::string_view taskBarIdentity = "KVLTaskBarIdentity";

// The launcher's file name in Contents/MacOS, and the value of CFBundleExecutable.
inline constexpr std::string_view launcherExecutable = "KorvelLauncher";
// The value of CFBundleIconFile; the icon is Contents/Resources/ProfileIcon.icns.
inline constexpr std::string_view iconFileName = "ProfileIcon";

// The environment variable in which the launcher hands Claude its profile app's path. Claude of a Linux install
// runs from its own place, not from inside the bundle; this is how the workspace tells whose it is.
inline constexpr std::string_view bundleEnvironment = "KORVEL_PROFILE_APP";

} // namespace ProfileBundleKeys
} // namespace korvel
