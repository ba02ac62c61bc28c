#pragma once

// What the platform tests share: a sandboxed home, hand-made application bundles and the usual test helpers.

#include "core/building/InfoPlistPatcher.hpp"
#include "core/support/FileError.hpp"
#include "tests/app/support/Await.hpp"
#include "tests/support/BackgroundProcess.hpp"
#include "tests/support/ScopedEnvironment.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/Thrown.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace korvel::test {

// A temporary home for one test: HOME, XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_RUNTIME_DIR (0700),
// XDG_DATA_DIRS and XDG_CONFIG_DIRS point into a fresh folder, DISPLAY is unset and the session bus disabled,
// until the object goes.
class Sandbox
{
public:
    Sandbox()
    {
        for (const auto& folder : {home(), dataHome(), configHome(), runtimeDir()})
            std::filesystem::create_directories(folder);
        std::filesystem::permissions(runtimeDir(), std::filesystem::perms::owner_all);
        for (const auto& [name, value] : std::map<std::string, std::optional<std::string>> {{"HOME", home()},
                 {"XDG_DATA_HOME", dataHome()}, {"XDG_CONFIG_HOME", configHome()}, {"XDG_RUNTIME_DIR", runtimeDir()},
                 {"XDG_DATA_DIRS", root() / "system-data"}, {"XDG_CONFIG_DIRS", root() / "system-config"},
                 {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt},
                 // No session bus, and none started on demand for the test's X display either.
                 {"DBUS_SESSION_BUS_ADDRESS", "disabled:"}})
            set(name, value);
    }

    const std::filesystem::path& root() const { return m_folder.path(); }
    std::filesystem::path home() const { return root() / "home"; }
    std::filesystem::path dataHome() const { return root() / "data"; }
    std::filesystem::path configHome() const { return root() / "config"; }
    std::filesystem::path runtimeDir() const { return root() / "runtime"; }

    // Changes one more variable for the sandbox's lifetime.
    void set(const std::string& name, const std::optional<std::string>& value) { m_environment.set(name, value); }

private:
    TempDir m_folder;
    ScopedEnvironment m_environment;
};

// A script that writes its arguments to `file`, each followed by a NUL byte. Through a temporary file, so that a
// reader never sees half of them.
inline std::string recordingScript(const std::filesystem::path& file)
{
    const std::string name = "'" + file.string() + "'";
    return "#!/bin/sh\nprintf '%s\\0' \"$@\" > " + name + ".tmp && /bin/mv " + name + ".tmp " + name + "\n";
}

// Stays running until SIGTERM, then exits 0; records its arguments first when given a file.
inline std::string stayingScript(const std::optional<std::filesystem::path>& file = std::nullopt)
{
    // sh runs a trap only between commands, so the wait must be interruptible. A sleep that outlives the script
    // (a SIGTERM right between its start and `child=`) must not hold the test's output open.
    return (file ? recordingScript(*file) : "#!/bin/sh\n") +
        "trap 'kill $child 2>/dev/null; exit 0' TERM\n"
        "sleep 1000 </dev/null >/dev/null 2>&1 & child=$!\n"
        "wait $child\n";
}

// The contents of a program that sleeps for as many seconds as its first argument says.
inline std::string sleepProgram()
{
    return readText("/bin/sleep");
}

inline std::filesystem::path bundleExecutable(const std::filesystem::path& bundle)
{
    return bundle / "Contents" / "MacOS" / bundle.stem();
}

// A bundle laid out by hand: `folder`/`name`.app named `name`, with the executable Contents/MacOS/`name` holding
// `executable` (a script, or a copy of a program), and CFBundleIdentifier `identifier` (none when empty).
inline std::filesystem::path makeBundle(const std::filesystem::path& folder, const std::string& name,
    const std::string& identifier, const std::string& executable)
{
    const std::filesystem::path bundle = folder / (name + ".app");
    writeExecutable(bundleExecutable(bundle), executable);
    PlistDictionary plist {{"CFBundleName", name}, {"CFBundleExecutable", name}, {"CFBundlePackageType", "APPL"}};
    if (!identifier.empty())
        plist["CFBundleIdentifier"] = identifier;
    InfoPlistPatcher::write(plist, bundle / "Contents" / "Info.plist");
    return bundle;
}

// The arguments a recording script wrote to `file`; none while it is missing.
inline std::vector<std::string> recordedArguments(const std::filesystem::path& file)
{
    std::vector<std::string> arguments;
    std::string text = std::filesystem::exists(file) ? readText(file) : "";
    for (size_t end; (end = text.find('\0')) != std::string::npos; text.erase(0, end + 1))
        arguments.push_back(text.substr(0, end));
    return arguments;
}

} // namespace korvel::test
