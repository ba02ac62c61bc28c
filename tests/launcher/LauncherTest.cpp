#include "tests/support/ChildProcess.hpp"
#include "tests/support/StandInClaude.hpp"
#include "tests/support/StandInRecord.hpp"
#include "tests/support/TempDir.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;
using korvel::test::ChildProcess;
using korvel::test::modeOf;
using korvel::test::StandInClaude;
using korvel::test::StandInRecord;
using korvel::test::TempDir;

namespace {

constexpr const char* noDataFolder = "This profile app has no data folder configured.";
constexpr const char* claudeMissing = "Claude's executable is missing from this profile app.";
constexpr const char* notInBundle = "The launcher must run from inside a profile app bundle.";

// A profile app built by hand from the stand-in: Claude beside our launcher, the data folder in Info.plist.
class LauncherTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fs::create_directories(temp / "home");
        fs::create_directories(temp / "work dir");
        bundle = temp / "Apps" / "Claude Work.app";
        fs::rename(StandInClaude::create(temp / "Apps"), bundle);
        StandInClaude::installLauncher(bundle, KORVEL_LAUNCHER_PATH, dataDir);
    }

    fs::path launcher() const { return bundle / "Contents" / "MacOS" / "KorvelLauncher"; }
    fs::path claude() const { return StandInClaude::executable(bundle); }

    // Runs the installed launcher as the desktop would, with no reachable session bus.
    ChildProcess::Result run(std::vector<std::string> arguments = {}, ChildProcess::Options options = {}) const
    {
        arguments.insert(arguments.begin(), launcher().string());
        if (options.arguments.empty())
            options.arguments = arguments;
        options.environment.emplace("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (temp / "no-bus").string());
        options.environment.emplace("HOME", (temp / "home").string());
        options.environment.emplace("XDG_RUNTIME_DIR", (temp / "home").string());
        options.environment.emplace("KORVEL_STANDIN_RECORD", std::nullopt);
        if (options.workingDirectory.empty())
            options.workingDirectory = temp / "work dir";
        return ChildProcess::run(launcher(), options);
    }

    StandInRecord claudeRecord() const { return StandInRecord::readOne(StandInClaude::recordFile(dataDir)); }

    // Exit status 1, one line on standard error, nothing else, and no lingering.
    static void expectFailure(const ChildProcess::Result& result, const std::string& message)
    {
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.standardError, "KorvelLauncher: " + message + "\n");
        EXPECT_EQ(result.standardOutput, "");
        EXPECT_LT(result.seconds, 1.0);
    }

    TempDir temp;
    fs::path bundle;
    // Blanks, and two parent folders that do not exist yet.
    std::string dataDir = (temp / "Profile Data" / "0F1E2D3C" / "Data Folder").string();
};

TEST_F(LauncherTest, BecomesClaudeInTheSameProcessWithTheProfileFolder)
{
    const auto result = run({}, {.environment = {{"KORVEL_PROBE", "a value with blanks"}}});

    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardError, "");
    const auto record = claudeRecord();
    // The data folder switch is one argument, blanks and all.
    EXPECT_EQ(record.arguments, (std::vector<std::string> {claude().string(), "--user-data-dir=" + dataDir}));
    EXPECT_EQ(record.pid, result.pid) << "Claude must replace the launcher, not run as its child";
    EXPECT_EQ(record.workingDirectory, (temp / "work dir").string());
    EXPECT_EQ(record.environment.at("KORVEL_PROBE"), "a value with blanks");
    EXPECT_EQ(modeOf(temp / "Profile Data"), 0700u);
    EXPECT_EQ(modeOf(temp / "Profile Data" / "0F1E2D3C"), 0700u);
    EXPECT_EQ(modeOf(dataDir), 0700u);
}

TEST_F(LauncherTest, DropsOnlyDataFolderSwitchesFromItsArguments)
{
    run({"--user-data-dir=/elsewhere", "--foo", "--user-data-dir", "value after a bare switch", "--user-data-dirt", "",
        "claude://open a link", "-user-data-dir=/kept"});

    EXPECT_EQ(claudeRecord().arguments,
        (std::vector<std::string> {claude().string(), "--user-data-dir=" + dataDir, "--foo",
            "value after a bare switch", "", "claude://open a link", "-user-data-dir=/kept"}));
}

TEST_F(LauncherTest, HandsClaudeItsOwnPathAsArgumentZero)
{
    fs::copy_file(KORVEL_ARGV_RECORDER_PATH, claude(), fs::copy_options::overwrite_existing);
    const auto record = temp / "argv-record";

    // The launcher finds its bundle by itself, whatever argument zero it was given.
    const auto result = run(
        {}, {.arguments = {"KorvelLauncher", "--foo"}, .environment = {{"KORVEL_STANDIN_RECORD", record.string()}}});

    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    const auto recorded = StandInRecord::readOne(record);
    EXPECT_EQ(
        recorded.arguments, (std::vector<std::string> {claude().string(), "--user-data-dir=" + dataDir, "--foo"}));
    EXPECT_EQ(recorded.pid, result.pid);
}

TEST_F(LauncherTest, NewFoldersArePrivateWhateverTheUmask)
{
    const mode_t previous = ::umask(0222);
    const auto result = run();
    ::umask(previous);

    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_EQ(modeOf(temp / "Profile Data"), 0700u);
    EXPECT_EQ(modeOf(temp / "Profile Data" / "0F1E2D3C"), 0700u);
    EXPECT_EQ(modeOf(dataDir), 0700u);
}

TEST_F(LauncherTest, AcceptsAnExistingFolderAndBinaryInfoPlistAsTheyAre)
{
    fs::create_directories(dataDir);
    fs::permissions(dataDir, fs::perms(0755));
    fs::permissions(temp / "Profile Data", fs::perms(0751));
    StandInClaude::convertInfoToBinary(bundle);

    const auto result = run({"--foo"});

    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_EQ(claudeRecord().arguments,
        (std::vector<std::string> {claude().string(), "--user-data-dir=" + dataDir, "--foo"}));
    EXPECT_EQ(modeOf(dataDir), 0755u);
    EXPECT_EQ(modeOf(temp / "Profile Data"), 0751u);
}

TEST_F(LauncherTest, RefusesAMissingOrUnusableDataFolderSetting)
{
    const auto info = bundle / "Contents" / "Info.plist";
    const std::string intact = korvel::test::readText(info);
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {"relative path", [&] { StandInClaude::setInfoString(bundle, "KVLUserDataDir", "Profile Data/x"); }},
        {"empty path", [&] { StandInClaude::setInfoString(bundle, "KVLUserDataDir", ""); }},
        {"missing key", [&] { StandInClaude::removeInfoKey(bundle, "KVLUserDataDir"); }},
        {"integer value", [&] { StandInClaude::setInfoInteger(bundle, "KVLUserDataDir", 7); }},
        {"not a property list", [&] { korvel::test::writeText(info, "KVLUserDataDir=/tmp/x\n"); }},
        {"no Info.plist", [&] { fs::remove(info); }},
    };
    for (const auto& [name, breakIt] : cases) {
        SCOPED_TRACE(name);
        korvel::test::writeText(info, intact);
        breakIt();

        expectFailure(run(), noDataFolder);
        EXPECT_FALSE(fs::exists(temp / "Profile Data"));
        EXPECT_FALSE(fs::exists(temp / "work dir" / "Profile Data"));
    }
}

TEST_F(LauncherTest, RefusesToRunOutsideAnAppBundle)
{
    for (const char* name : {"Claude Work.APP", "Claude Work", "Claude.app.bak"}) {
        SCOPED_TRACE(name);
        const fs::path moved = temp / "Apps" / name;
        fs::rename(bundle, moved);
        bundle = moved;

        expectFailure(run(), notInBundle);
        EXPECT_FALSE(fs::exists(temp / "Profile Data"));
    }
}

TEST_F(LauncherTest, RefusesWhenClaudeIsMissingOrNotExecutable)
{
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {"missing", [&] { fs::remove(claude()); }},
        {"not executable", [&] { fs::permissions(claude(), fs::perms(0644)); }},
        {"a folder", [&] { fs::remove(claude()), fs::create_directory(claude()); }},
        {"a dangling link", [&] { fs::remove(claude()), fs::create_symlink("Claude.gone", claude()); }},
    };
    for (const auto& [name, breakIt] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(claude());
        korvel::test::writeText(claude(), "#!/bin/sh\nexit 0\n");
        fs::permissions(claude(), fs::perms(0755));
        breakIt();

        expectFailure(run(), claudeMissing);
        // The folder comes first; only then is Claude looked for.
        EXPECT_TRUE(fs::is_directory(dataDir));
    }
}

TEST_F(LauncherTest, ReportsWhenClaudeCannotBeStarted)
{
    korvel::test::writeText(claude(),
        std::string("\x7f"
                    "ELF not really",
            15));

    expectFailure(run(), "Could not start Claude: Exec format error");
}

TEST_F(LauncherTest, ReportsWhenTheDataFolderCannotBeCreated)
{
    korvel::test::writeText(temp / "Profile Data", "a file where a folder belongs");

    expectFailure(run(), "Could not create the profile data folder at " + dataDir + ": Not a directory");

    fs::remove(temp / "Profile Data");
    korvel::test::writeText(dataDir, "a file where the data folder belongs");

    expectFailure(run(), "Could not create the profile data folder at " + dataDir + ": File exists");
}

} // namespace
