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
#include <sys/stat.h>
#include <unistd.h>

namespace korvel::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::HasSubstr;

const fs::path sourceDir = KORVEL_SOURCE_DIR;
const fs::path binaryDir = KORVEL_BINARY_DIR;

std::string hostName()
{
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

bool isSocket(const fs::path& path)
{
    struct stat info
    { };
    return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
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

    // The stand-in started without a display, so that it only logs.
    std::unique_ptr<BackgroundProcess> startFor(const fs::path& dataDir, std::vector<std::string> extra = {})
    {
        std::vector<std::string> arguments = {program.string(), "--user-data-dir=" + dataDir.string()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return std::make_unique<BackgroundProcess>(program,
            BackgroundProcess::Options {arguments, {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}}});
    }

    ChildProcess::Result secondStart(const fs::path& dataDir, const std::string& link)
    {
        return ChildProcess::run(program,
            {{program.string(), "--user-data-dir=" + dataDir.string(), link},
                {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}}});
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

TEST_F(StandInProgramTest, RunningKeepsChromiumsSingletonLinksAndRemovesThemOnQuit)
{
    const fs::path data = temp / "data";
    auto claude = startFor(data);
    ASSERT_TRUE(claude->waitForLine("started"));
    EXPECT_TRUE(fs::exists(data / "Local State"));
    EXPECT_TRUE(fs::exists(data / "config.json"));
    EXPECT_EQ(modeOf(data), 0700u);
    EXPECT_EQ(fs::read_symlink(data / "SingletonLock").string(), hostName() + "-" + std::to_string(claude->pid()));
    EXPECT_FALSE(fs::read_symlink(data / "SingletonCookie").string().empty());
    const fs::path socket = fs::read_symlink(data / "SingletonSocket");
    EXPECT_TRUE(isSocket(socket)) << socket;

    claude->signal(SIGTERM);
    EXPECT_EQ(claude->wait(), 0);
    for (const char* name : {"SingletonLock", "SingletonCookie", "SingletonSocket"})
        EXPECT_FALSE(fs::exists(fs::symlink_status(data / name))) << name;
    EXPECT_FALSE(fs::exists(socket.parent_path())) << "its private socket folder goes too";
}

TEST_F(StandInProgramTest, ASecondStartHandsItsLinksToTheRunningOneEvenWithALongFolderPath)
{
    // Longer than a Unix socket address may be: the reason Chromium's socket lives elsewhere.
    const fs::path data = temp / std::string(60, 'p') / std::string(60, 'q') / "Data";
    auto claude = startFor(data, {"claude://claude.ai/first"});
    ASSERT_TRUE(claude->waitForLine("link claude://claude.ai/first"));

    const auto second = secondStart(data, "claude://claude.ai/new?q=two words");
    EXPECT_EQ(second.exitStatus, 0) << second.standardOutput;
    EXPECT_THAT(second.standardOutput, HasSubstr("forwarded claude://claude.ai/new?q=two words"));
    EXPECT_TRUE(claude->waitForLine("link claude://claude.ai/new?q=two words"));
    EXPECT_EQ(fs::read_symlink(data / "SingletonLock").string(), hostName() + "-" + std::to_string(claude->pid()))
        << "the running one keeps the folder";
    claude->signal(SIGTERM);
    EXPECT_EQ(claude->wait(), 0);
    EXPECT_THAT(readText(data / "standin.log"), HasSubstr("link claude://claude.ai/new?q=two words\n"));
}

TEST_F(StandInProgramTest, LinksLeftByAnInstanceThatIsGoneAreTakenOver)
{
    const fs::path data = temp / "data";
    fs::create_directories(data);
    // A process id that cannot be alive: above the kernel's limit.
    fs::create_symlink(hostName() + "-4194305", data / "SingletonLock");
    fs::create_symlink("12345", data / "SingletonCookie");
    fs::create_symlink("/nonexistent/SingletonSocket", data / "SingletonSocket");
    auto claude = startFor(data);
    ASSERT_TRUE(claude->waitForLine("started"));
    EXPECT_EQ(fs::read_symlink(data / "SingletonLock").string(), hostName() + "-" + std::to_string(claude->pid()));
    EXPECT_TRUE(isSocket(fs::read_symlink(data / "SingletonSocket")));
    // Two folders, two instances side by side.
    auto other = startFor(temp / "other");
    ASSERT_TRUE(other->waitForLine("started"));
    claude->signal(SIGTERM);
    other->signal(SIGTERM);
    EXPECT_EQ(claude->wait(), 0);
    EXPECT_EQ(other->wait(), 0);
}

} // namespace
} // namespace korvel::test
