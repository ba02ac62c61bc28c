#include "tests/support/SwaySession.hpp"
#include "tests/support/BackgroundProcess.hpp"

#include <gtest/gtest.h>

#include "tests/support/ChildProcess.hpp"

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

namespace korvel::test {
namespace {

using namespace std::chrono_literals;

// Programs still running (ended ones awaiting their reaper aside) on this runtime folder.
std::set<std::string> sessionPrograms(const std::string& runtime)
{
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string stat;
        std::getline(std::ifstream(entry.path() / "stat"), stat);
        const auto open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close + 2 >= stat.size() ||
            stat[close + 2] == 'Z')
            continue;
        std::string environment((std::istreambuf_iterator<char>(std::ifstream(entry.path() / "environ").rdbuf())),
            std::istreambuf_iterator<char>());
        if (environment.find("XDG_RUNTIME_DIR=" + runtime + '\0') != std::string::npos)
            found.insert(entry.path().filename().string() + " " + stat.substr(open + 1, close - open - 1));
    }
    return found;
}

std::optional<SwayWindow> windowOf(const SwaySession& sway, pid_t pid)
{
    for (int tries = 0; tries < 100; ++tries) {
        for (const SwayWindow& window : sway.windows())
            if (window.pid == pid)
                return window;
        std::this_thread::sleep_for(100ms);
    }
    return std::nullopt;
}

// The harness itself: an X11 client of the test's user reaches XWayland and shows up in the tree with its class
// and the focus, swaybar watches for tray items on the session's bus, and nothing the session started survives it.
TEST(SwaySession, ShowsAnXWaylandWindowAndATrayAndLeavesNothingBehind)
{
    if (const auto reason = SwaySession::unavailable())
        GTEST_SKIP() << reason.value();
    std::string runtime;
    {
        SwaySession sway({.tray = true});
        runtime = std::filesystem::path(*sway.environment().at("WAYLAND_DISPLAY")).parent_path();
        EXPECT_GE(sessionPrograms(runtime).size(), 4U); // sway, XWayland, swaybar, the bus
        BackgroundProcess client("/usr/bin/xmessage",
            {.arguments = {"xmessage", "-name", "korvel-harness", "-xrm", "*class: KorvelHarness", "hello"},
                .environment = sway.environment()});
        const auto window = windowOf(sway, client.pid());
        ASSERT_TRUE(window.has_value());
        EXPECT_TRUE(window->xwayland);
        EXPECT_EQ(window->x11Class, "Xmessage");
        EXPECT_TRUE(window->focused);
        for (const SwayWindow& other : sway.windows())
            EXPECT_TRUE(other.pid == client.pid() || !other.focused);
        auto environment = sway.environment();
        const auto watcher = ChildProcess::run("/usr/bin/gdbus",
            {.arguments = {"gdbus", "call", "--session", "--dest", "org.kde.StatusNotifierWatcher", "--object-path",
                 "/StatusNotifierWatcher", "--method", "org.freedesktop.DBus.Properties.Get",
                 "org.kde.StatusNotifierWatcher", "IsStatusNotifierHostRegistered"},
                .environment = environment});
        EXPECT_EQ(watcher.standardOutput, "(<true>,)\n") << watcher.standardError;
    }
    EXPECT_EQ(sessionPrograms(runtime), std::set<std::string> {});
}

} // namespace
} // namespace korvel::test
