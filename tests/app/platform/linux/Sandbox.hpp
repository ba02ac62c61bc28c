#pragma once

#include "tests/support/ScopedEnvironment.hpp"
#include "tests/support/TempDir.hpp"

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace korvel::test {

// A temporary home for one test: HOME, XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_RUNTIME_DIR (0700),
// XDG_DATA_DIRS and XDG_CONFIG_DIRS point into a fresh folder, DISPLAY is unset and the session bus disabled,
// until the object goes.
class Sandbox
{
public:
    Sandbox()
    {
        for (const auto& [name, value] : environment())
            if (name.starts_with("XDG_") || name == "HOME")
                std::filesystem::create_directories(*value);
        std::filesystem::permissions(runtimeDir(), std::filesystem::perms::owner_all);
        for (const auto& [name, value] : environment())
            m_environment.set(name, value);
    }

    const std::filesystem::path& root() const { return m_folder.path(); }
    std::filesystem::path home() const { return root() / "home"; }
    std::filesystem::path dataHome() const { return root() / "data"; }
    std::filesystem::path configHome() const { return root() / "config"; }
    std::filesystem::path runtimeDir() const { return root() / "runtime"; }

    // The variables above, for a child process started with a changed environment.
    std::map<std::string, std::optional<std::string>> environment() const
    {
        return {{"HOME", home()}, {"XDG_DATA_HOME", dataHome()}, {"XDG_CONFIG_HOME", configHome()},
            {"XDG_RUNTIME_DIR", runtimeDir()}, {"XDG_DATA_DIRS", root() / "system-data"},
            {"XDG_CONFIG_DIRS", root() / "system-config"}, {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt},
            // No session bus, and none started on demand for the test's X display either.
            {"DBUS_SESSION_BUS_ADDRESS", "disabled:"}};
    }
    // Changes one more variable for the sandbox's lifetime.
    void set(const std::string& name, const std::optional<std::string>& value) { m_environment.set(name, value); }

private:
    TempDir m_folder;
    ScopedEnvironment m_environment;
};

} // namespace korvel::test
