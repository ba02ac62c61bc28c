#include "tests/app/platform/linux/Sandbox.hpp"

namespace korvel::test {

Sandbox::Sandbox()
{
    for (const auto& folder : {home(), dataHome(), configHome(), runtimeDir(), systemData(), root() / "system-config"})
        std::filesystem::create_directories(folder);
    std::filesystem::permissions(runtimeDir(), std::filesystem::perms::owner_all);
    for (const auto& [name, value] : environment())
        m_environment.set(name, value);
}

std::map<std::string, std::optional<std::string>> Sandbox::environment() const
{
    return {
        {"HOME", home().string()},
        {"XDG_DATA_HOME", dataHome().string()},
        {"XDG_CONFIG_HOME", configHome().string()},
        {"XDG_RUNTIME_DIR", runtimeDir().string()},
        {"XDG_DATA_DIRS", systemData().string()},
        {"XDG_CONFIG_DIRS", (root() / "system-config").string()},
        {"DISPLAY", std::nullopt},
        {"WAYLAND_DISPLAY", std::nullopt},
        // No session bus, and none started on demand for the test's X display either.
        {"DBUS_SESSION_BUS_ADDRESS", "disabled:"},
    };
}

} // namespace korvel::test
