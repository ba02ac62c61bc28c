// The demo's stand-in Claude Desktop, run for real: the bundle the script lays out (read back by Python's plistlib
// and icnsutils), the Chromium-style singleton over a data folder, and links handed from a second start.

#include "tests/support/BackgroundProcess.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/TempDir.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <unistd.h>

namespace korvel::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::HasSubstr;

const fs::path sourceDir = KORVEL_SOURCE_DIR;
const fs::path binaryDir = KORVEL_BINARY_DIR;

// What Chromium's SingletonLock names: this host and the owner's process id.
std::string lockFor(pid_t pid)
{
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return name + ("-" + std::to_string(pid));
}

class StandInProgramTest : public ::testing::Test
{
protected:
    StandInProgramTest()
    {
        const auto made = ChildProcess::run("/bin/bash",
            {{"bash", (sourceDir / "demo/make-claude-app").string(), temp.path().string(), "--version", "4.5.6",
                "--build", binaryDir.string()}});
        EXPECT_EQ(made.exitStatus, 0) << made.standardError;
        bundle = temp / "Claude.app";
        program = bundle / "Contents/MacOS/Claude";
    }

    // The stand-in without a display, so that it only logs.
    ProcessOptions optionsFor(const fs::path& dataDir, const std::string& link) const
    {
        return {{program.string(), "--user-data-dir=" + dataDir.string(), link},
            {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}}};
    }
    std::unique_ptr<BackgroundProcess> startFor(const fs::path& dataDir, const std::string& link = "")
    {
        return std::make_unique<BackgroundProcess>(program, optionsFor(dataDir, link));
    }

    TempDir temp;
    fs::path bundle;
    fs::path program;
};

TEST_F(StandInProgramTest, TheScriptLaysOutABundleOthersCanRead)
{
    const auto plist = ChildProcess::run("/usr/bin/python3",
        {{"python3", "-c",
            "import plistlib,sys; p=plistlib.load(open(sys.argv[1],'rb')); "
            "print(p['CFBundleIdentifier'], p['CFBundleShortVersionString'], p['CFBundleExecutable'], "
            "p['CFBundleURLTypes'][0]['CFBundleURLSchemes'][0], p['CFBundleIconFile'])",
            (bundle / "Contents/Info.plist").string()}});
    ASSERT_EQ(plist.exitStatus, 0) << plist.standardError;
    EXPECT_EQ(plist.standardOutput, "com.anthropic.claudefordesktop 4.5.6 Claude claude electron.icns\n");
    EXPECT_EQ(modeOf(program), 0755u);

    const fs::path extracted = temp / "icons";
    fs::create_directories(extracted);
    const auto icons = ChildProcess::run("/usr/bin/icns2png",
        {{"icns2png", "-x", "-o", extracted.string(), (bundle / "Contents/Resources/electron.icns").string()}});
    ASSERT_EQ(icons.exitStatus, 0) << icons.standardOutput << icons.standardError;
    EXPECT_TRUE(fs::exists(extracted / "electron_512x512x32.png")) << icons.standardOutput;
    EXPECT_TRUE(fs::exists(extracted / "electron_256x256x32.png")) << icons.standardOutput;

    const auto refused = ChildProcess::run("/bin/bash",
        {{"bash", (sourceDir / "demo/make-claude-app").string(), temp.path().string(), "--version", "1;x"}});
    EXPECT_EQ(refused.exitStatus, 2) << "a version is digits and dots";
}

TEST_F(StandInProgramTest, RunningKeepsChromiumsSingletonTakesOverStaleLinksForwardsLinksAndCleansUpOnQuit)
{
    // Longer than a Unix socket address may be: the reason Chromium's socket lives elsewhere.
    const fs::path data = temp / std::string(60, 'p') / std::string(60, 'q') / "Data", stale = temp / "stale";
    fs::create_directories(stale);
    // A process id that cannot be alive: above the kernel's limit.
    fs::create_symlink(lockFor(4194305), stale / "SingletonLock");
    fs::create_symlink("12345", stale / "SingletonCookie");
    fs::create_symlink("/nonexistent/SingletonSocket", stale / "SingletonSocket");
    // Two folders, two instances side by side.
    auto claude = startFor(data, "claude://claude.ai/first"), other = startFor(stale);
    ASSERT_TRUE(claude->waitForLine("link claude://claude.ai/first"));
    ASSERT_TRUE(other->waitForLine("started"));
    EXPECT_TRUE(fs::exists(data / "Local State"));
    EXPECT_TRUE(fs::exists(data / "config.json"));
    EXPECT_EQ(modeOf(data), 0700u);
    EXPECT_FALSE(fs::read_symlink(data / "SingletonCookie").string().empty());
    for (const auto& [folder, process] : {std::pair {data, claude.get()}, std::pair {stale, other.get()}}) {
        EXPECT_EQ(fs::read_symlink(folder / "SingletonLock"), lockFor(process->pid()));
        EXPECT_TRUE(fs::is_socket(fs::read_symlink(folder / "SingletonSocket"))) << folder;
    }
    const fs::path socket = fs::read_symlink(data / "SingletonSocket");

    // A second start over the same folder hands its link to the running one and leaves.
    const auto second = ChildProcess::run(program, optionsFor(data, "claude://claude.ai/new?q=two words"));
    EXPECT_EQ(second.exitStatus, 0) << second.standardOutput;
    EXPECT_THAT(second.standardOutput, HasSubstr("forwarded claude://claude.ai/new?q=two words"));
    EXPECT_TRUE(claude->waitForLine("link claude://claude.ai/new?q=two words"));
    EXPECT_EQ(fs::read_symlink(data / "SingletonLock"), lockFor(claude->pid())) << "the running one keeps the folder";

    claude->signal(SIGTERM);
    other->signal(SIGTERM);
    EXPECT_EQ(claude->wait(), 0);
    EXPECT_EQ(other->wait(), 0);
    for (const char* name : {"SingletonLock", "SingletonCookie", "SingletonSocket"})
        EXPECT_FALSE(fs::exists(fs::symlink_status(data / name))) << name;
    EXPECT_FALSE(fs::exists(socket.parent_path())) << "its private socket folder goes too";
    EXPECT_THAT(readText(data / "standin.log"), HasSubstr("link claude://claude.ai/new?q=two words\n"));
}

} // namespace
} // namespace korvel::test
