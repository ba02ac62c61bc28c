// The Korvel program itself, started for real in a sandbox home (without a display: Qt's offscreen platform): a
// second start hands its request to the first one and ends, and a claude:// link handed over that way reaches
// Claude Desktop — here the demo's stand-in, which logs what it receives.

#include "tests/support/BackgroundProcess.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/TempDir.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace korvel::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Polls `done` for up to `timeout`.
bool within(std::chrono::seconds timeout, const std::function<bool()>& done)
{
    for (const auto end = std::chrono::steady_clock::now() + timeout; !done();) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

TEST(KorvelProgramTest, ASecondStartHandsItsLinksToTheRunningKorvel)
{
    TempDir temp;
    const fs::path korvel = fs::path(KORVEL_BINARY_DIR) / "Korvel.app/Contents/MacOS/Korvel";
    const fs::path home = temp / "home";
    for (const fs::path& folder : {home / ".local/share", home / ".config", temp / "runtime"})
        fs::create_directories(folder);
    fs::permissions(temp / "runtime", fs::perms::owner_all);
    const auto made = ChildProcess::run("/bin/bash",
        {{"bash", (fs::path(KORVEL_SOURCE_DIR) / "demo/make-claude-app").string(), (temp / "Applications").string(),
            "--build", KORVEL_BINARY_DIR}});
    ASSERT_EQ(made.exitStatus, 0) << made.standardError;
    const std::map<std::string, std::optional<std::string>> environment = {{"HOME", home.string()},
        {"XDG_DATA_HOME", (home / ".local/share").string()}, {"XDG_CONFIG_HOME", (home / ".config").string()},
        {"XDG_RUNTIME_DIR", (temp / "runtime").string()},
        {"KORVEL_CLAUDE_APP", (temp / "Applications/Claude.app").string()}, {"QT_QPA_PLATFORM", "offscreen"},
        {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}, {"DBUS_SESSION_BUS_ADDRESS", std::nullopt}};
    const auto claudeLog = [&home] {
        std::stringstream text;
        text << std::ifstream(home / ".config/Claude/standin.log").rdbuf();
        return text.str();
    };

    BackgroundProcess first(korvel, {{korvel.string()}, environment});
    // Whoever takes the single-instance lock first is the running Korvel: let this one get there first.
    const fs::path socket = temp / "runtime" / ("korvel-" + std::to_string(::geteuid()) + ".socket");
    ASSERT_TRUE(within(20s, [&socket] { return fs::exists(socket); })) << "Korvel did not start listening";
    const auto show = ChildProcess::run(korvel, {{korvel.string()}, environment});
    EXPECT_EQ(show.exitStatus, 0) << show.standardError;
    EXPECT_LT(show.seconds, 10.0);
    EXPECT_FALSE(first.hasExited());

    // Routing is off: the running Korvel sends the link on to Claude Desktop.
    const std::string link = "claude://claude.ai/new?q=from the desktop";
    const auto handOver = ChildProcess::run(korvel, {{korvel.string(), link}, environment});
    EXPECT_EQ(handOver.exitStatus, 0) << handOver.standardError;
    EXPECT_TRUE(within(15s, [&] { return claudeLog().find("link " + link) != std::string::npos; })) << claudeLog();
    EXPECT_FALSE(first.hasExited()) << "Korvel keeps running";
    first.signal(SIGTERM);
    first.wait();
    // The stand-in Claude that Korvel started lives on its own, as a real one would.
    std::istringstream log(claudeLog());
    for (std::string line; std::getline(log, line);) {
        if (line.starts_with("started "))
            ::kill(std::stoi(line.substr(8)), SIGTERM);
    }
}

} // namespace
} // namespace korvel::test
