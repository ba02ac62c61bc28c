#include "tests/app/cli/KorvelHome.hpp"

#include "core/building/InfoPlistPatcher.hpp"
#include "core/model/ProfileStore.hpp"
#include "tests/support/StandInClaude.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <regex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace korvel::test {

KorvelHome::KorvelHome()
    : home(temp / "home")
    , terminalRecord(temp / "terminal.txt")
{
    const std::filesystem::path data = home / ".local/share";
    const std::filesystem::path config = home / ".config";
    const std::filesystem::path runtime = temp / "run";
    std::filesystem::create_directories(data);
    std::filesystem::create_directories(config);
    std::filesystem::create_directories(runtime);
    ::chmod(runtime.c_str(), 0700);
    claude = StandInClaude::create(temp / "Applications");
    paths = AppPaths(data / "Korvel", home / "Applications/Claude Profiles", claude, config / "Claude");

    const std::filesystem::path terminal = temp / "terminal";
    writeText(terminal, "#!/bin/sh\nprintf '%s\\n' \"$@\" >'" + terminalRecord.string() + "'\n");
    std::filesystem::permissions(terminal, std::filesystem::perms(0755));

    environment = {{"HOME", home.string()}, {"XDG_DATA_HOME", data.string()}, {"XDG_CONFIG_HOME", config.string()},
        {"XDG_RUNTIME_DIR", runtime.string()}, {"KORVEL_CLAUDE_APP", claude.string()}, {"TERMINAL", terminal.string()},
        {"QT_QPA_PLATFORM", "offscreen"}, {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt},
        {"DBUS_SESSION_BUS_ADDRESS", std::nullopt}, {"KORVEL_STANDIN_RECORD", std::nullopt},
        {"KORVEL_STANDIN_STAY", std::nullopt},
        {"LSAN_OPTIONS",
            "print_suppressions=0:suppressions=" KORVEL_SOURCE_DIR "/tests/app/cli/lsan-suppressions.txt"}};
    // Whole stacks even through libraries without frame pointers, so that the suppressions match.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    environment["ASAN_OPTIONS"] = std::string(sanitizer ? sanitizer : "") + ":fast_unwind_on_malloc=0";
}

KorvelHome::~KorvelHome()
{
    for (const pid_t pid : m_started)
        ::kill(pid, SIGTERM);
}

KorvelHome::Result KorvelHome::korvel(const std::vector<std::string>& arguments, const Environment& extra) const
{
    std::vector<std::string> all {"korvel"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return run(korvelProgram(), all, extra);
}

KorvelHome::Result KorvelHome::run(
    const std::filesystem::path& program, const std::vector<std::string>& arguments, const Environment& extra) const
{
    Environment merged = environment;
    for (const auto& [name, value] : extra)
        merged[name] = value;
    const auto result = ChildProcess::run(program, {.arguments = arguments, .environment = merged});
    return {result.exitStatus, result.standardOutput, result.standardError};
}

Profile KorvelHome::stored(const std::string& name) const
{
    for (const Profile& profile : storedProfiles()) {
        if (profile.name == name)
            return profile;
    }
    throw std::runtime_error("no stored profile " + name);
}

std::vector<std::string> KorvelHome::storedNames() const
{
    std::vector<std::string> names;
    for (const Profile& profile : storedProfiles())
        names.push_back(profile.name);
    return names;
}

std::vector<std::string> KorvelHome::installedApps() const
{
    std::vector<std::string> apps;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(paths.appsDir, error))
        apps.push_back(entry.path().filename().string());
    std::sort(apps.begin(), apps.end());
    return apps;
}

std::optional<std::string> KorvelHome::appInfo(const std::string& appName, const std::string& key) const
{
    return InfoPlistPatcher::readStringValue(paths.appsDir / (appName + ".app") / "Contents/Info.plist", key);
}

bool KorvelHome::eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::string normalized(std::string text, const std::filesystem::path& root)
{
    static const std::regex uuid("[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}");
    text = std::regex_replace(text, uuid, "<ID>");
    for (const std::string& form : {root.string(), std::regex_replace(root.string(), std::regex("/"), "\\/")}) {
        for (size_t at = text.find(form); at != std::string::npos; at = text.find(form, at))
            text.replace(at, form.size(), "<ROOT>");
    }
    return text;
}

} // namespace korvel::test
