#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace korvel::test {

// A D-Bus session bus of the test's own (dbus-daemon on a socket in `folder`), so that what the launcher
// sends can be received without touching the user's desktop.
class PrivateBus
{
public:
    static constexpr const char* daemonPath = "/usr/bin/dbus-daemon";
    static bool available();

    explicit PrivateBus(const std::filesystem::path& folder); // throws std::runtime_error
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // For DBUS_SESSION_BUS_ADDRESS.
    const std::string& address() const { return m_address; }

private:
    void stop();

    std::string m_address;
    pid_t m_pid = 0;
};

} // namespace korvel::test
