#pragma once

#include "core/model/TaskBarIdentity.hpp"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace korvel::launcher {

// The command line Claude is started with.
namespace LaunchArguments {

// Switches of Chromium, Electron and Node that Claude never gets from the launcher, after one dash or two (Chromium
// reads both) and whatever name continues them, bare or with a value: each changes what runs or with which rights.
// Another data folder than the profile's; a program run in place of, or in front of, one of Claude's processes;
// the sandbox turned off; code injected through a debugger, V8, an extension or another devtools front end; a log
// file that appends to any file (a shell's start-up file, say); a process type that makes the main process act as a
// child; the same-origin policy or certificate checks turned off; traffic or its TLS keys written to a file, or
// sent through another proxy or resolver.
inline constexpr std::array<std::string_view, 37> droppedSwitches = {"user-data-dir", "renderer-cmd-prefix",
    "utility-cmd-prefix", "gpu-launcher", "zygote-cmd-prefix", "ppapi-plugin-launcher", "browser-subprocess-path",
    "no-sandbox", "no-zygote", "disable-setuid-sandbox", "disable-namespace-sandbox", "disable-seccomp-filter-sandbox",
    "disable-gpu-sandbox", "single-process", "inspect", "remote-debugging", "remote-allow-origins", "js-flags",
    "load-extension", "auto-open-devtools-for-tabs", "custom-devtools-frontend", "log-file", "type",
    "disable-web-security", "disable-site-isolation", "allow-file-access-from-files", "allow-running-insecure-content",
    "unsafely-treat-insecure-origin-as-secure", "ignore-certificate-errors", "allow-insecure-localhost", "log-net-log",
    "net-log", "ssl-key-log-file", "proxy-server", "proxy-pac-url", "host-resolver-rules", "host-rules"};

// Whether `argument` is one of those switches.
bool isDropped(std::string_view argument);

// The switches that give Claude's windows the identity `identity` asks for, given the session's WAYLAND_DISPLAY
// and DISPLAY (null when unset): XWayland only in a Wayland session that has it; Claude's own choice otherwise.
std::vector<std::string> windowSwitches(TaskBarIdentity identity, const char* waylandDisplay, const char* display);

// `executable`, "--user-data-dir=" + `dataDir`, `own` (the launcher's switches), then the launcher's arguments
// after argument zero except the dropped switches (a separate value after a bare switch stays: Chromium takes
// values only after "="). Own switches come before the others: after a "--" they would be arguments.
std::vector<std::string> build(const std::string& executable, const std::string& dataDir,
    const std::vector<std::string>& own, int argc, const char* const argv[]);

// A NUL-terminated argument vector for execv, pointing into `arguments`.
std::vector<char*> vector(std::vector<std::string>& arguments);

} // namespace LaunchArguments
} // namespace korvel::launcher
