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

const fs::path korvel = fs::path(KORVEL_BINARY_DIR) / "Korvel.app/Contents/MacOS/Korvel";

class KorvelProgramTest : public ::testing::Test
{
protected:
    KorvelProgramTest()
    {
        const fs::path home = temp / "home";
        for (const fs::path& folder : {home / ".local/share", home / ".config", temp / "runtime"})
            fs::create_directories(folder);
        fs::permissions(temp / "runtime", fs::perms::owner_all);
        const auto made = ChildProcess::run("/bin/bash",
            {{"bash", (fs::path(KORVEL_SOURCE_DIR) / "demo/make-claude-app").string(), (temp / "Applications").string(),
                "--build", KORVEL_BINARY_DIR}});
        EXPECT_EQ(made.exitStatus, 0) << made.standardError;
        environment = {{"HOME", home.string()}, {"XDG_DATA_HOME", (home / ".local/share").string()},
            {"XDG_CONFIG_HOME", (home / ".config").string()}, {"XDG_RUNTIME_DIR", (temp / "runtime").string()},
            {"KORVEL_CLAUDE_APP", (temp / "Applications/Claude.app").string()}, {"QT_QPA_PLATFORM", "offscreen"},
            {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}, {"DBUS_SESSION_BUS_ADDRESS", std::nullopt}};
        claudeLog = home / ".config/Claude/standin.log";
    }

    ~KorvelProgramTest() override
    {
        // The stand-in Claude that Korvel started lives on its own, as a real one would.
        std::ifstream log(claudeLog);
        for (std::string line; std::getline(log, line);) {
            if (line.starts_with("started "))
                ::kill(std::stoi(line.substr(8)), SIGTERM);
        }
    }

    ChildProcess::Result secondStart(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), korvel.string());
        return ChildProcess::run(korvel, {arguments, environment});
    }

    std::string readClaudeLog() const
    {
        std::ifstream file(claudeLog);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    TempDir temp;
    std::map<std::string, std::optional<std::string>> environment;
    fs::path claudeLog;
};

TEST_F(KorvelProgramTest, ASecondStartHandsItsLinksToTheRunningKorvel)
{
    BackgroundProcess first(korvel, {{korvel.string()}, environment});
    // Whoever takes the single-instance lock first is the running Korvel: let this one get there first.
    const fs::path socket = temp / "runtime" / ("korvel-" + std::to_string(::geteuid()) + ".socket");
    const auto listening = std::chrono::steady_clock::now() + 20s;
    while (!fs::exists(socket) && std::chrono::steady_clock::now() < listening)
        std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(fs::exists(socket)) << "Korvel did not start listening";

    const auto show = secondStart({});
    EXPECT_EQ(show.exitStatus, 0) << show.standardError;
    EXPECT_LT(show.seconds, 10.0);
    EXPECT_FALSE(first.hasExited());

    const std::string link = "claude://claude.ai/new?q=from the desktop";
    const auto handOver = secondStart({link});
    EXPECT_EQ(handOver.exitStatus, 0) << handOver.standardError;
    // Routing is off: the running Korvel sends the link on to Claude Desktop.
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (readClaudeLog().find("link " + link) == std::string::npos && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    EXPECT_THAT(readClaudeLog(), ::testing::HasSubstr("link " + link));
    EXPECT_FALSE(first.hasExited()) << "Korvel keeps running";

    first.signal(SIGTERM);
    first.wait();
}

} // namespace
} // namespace korvel::test
