#pragma once

#include "core/model/TaskBarIdentity.hpp"

#include <optional>
#include <string>

namespace korvel::launcher {

// The profile app the launcher runs in, and what the launcher reads from its Info.plist . The launcher links no library
// of Korvel's; it shares header constants and the file reading of the core.
namespace Bundle {

// The path of the running program, links resolved; empty when the system cannot tell.
std::string runningExecutable();

// The bundle holding `executable`: the folder above Contents/MacOS for a bundled program, else the folder
// holding the program (which then is no app bundle).
std::string containing(const std::string& executable);

// Whether the bundle's path extension is exactly "app".
bool isApp(const std::string& bundle);

// What the launcher reads from the bundle's Info.plist (XML or binary).
struct Info
{
    // ProfileBundleKeys::userDataDir: present, a string, absolute and free of NUL characters; nothing otherwise.
    std::optional<std::string> dataDir;
    // CFBundleIdentifier; empty when missing.
    std::string bundleIdentifier;
    // ProfileBundleKeys::taskBarIdentity; Native when missing or unknown.
    TaskBarIdentity taskBarIdentity = TaskBarIdentity::Native;
};
// Nothing at all when the Info.plist cannot be read as a dictionary.
Info info(const std::string& bundle);

// bundle/Contents/MacOS/Claude
std::string claudeExecutable(const std::string& bundle);

// Whether `path` is a regular file that this user may execute.
bool isExecutableFile(const std::string& path);

} // namespace Bundle
} // namespace korvel::launcher
