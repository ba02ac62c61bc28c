#pragma once

#include <string>
#include <vector>

namespace korvel::launcher {

// The command line Claude is started with.
namespace LaunchArguments {

// Any of the launcher's own arguments that begin with this are dropped, the bare switch as well as the one
// with a value, so that only the profile's folder reaches Claude.
inline constexpr const char* dataDirSwitch = "--user-data-dir";

// `executable`, "--user-data-dir=" + `dataDir`, then the launcher's arguments after argument zero except
// those beginning with "--user-data-dir" (a separate value after a bare switch stays).
std::vector<std::string> build(
    const std::string& executable, const std::string& dataDir, int argc, const char* const argv[]);

// A NUL-terminated argument vector for execv, pointing into `arguments`.
std::vector<char*> vector(std::vector<std::string>& arguments);

} // namespace LaunchArguments
} // namespace korvel::launcher
