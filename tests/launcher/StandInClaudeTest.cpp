#include "tests/support/StandInClaude.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/StandInRecord.hpp"
#include "tests/support/TempDir.hpp"

#include <csignal>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

namespace fs = std::filesystem;
using namespace korvel::test;

namespace {

// Python's plistlib: a reader we did not write, printing "key type value" lines.
std::string describedByPlistlib(const fs::path& file)
{
    const auto script = file.parent_path() / "describe.py";
    writeText(script,
        "import plistlib, sys\n"
        "d = plistlib.load(open(sys.argv[1], 'rb'))\n"
        "for k in sorted(d):\n"
        "    print(k, type(d[k]).__name__, d[k] if isinstance(d[k], (str, int)) else '')\n");
    const auto result =
        ChildProcess::run("/usr/bin/python3", {.arguments = {"python3", script.string(), file.string()}});
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    return result.standardOutput;
}

TEST(StandInClaudeTest, LooksLikeClaudeDesktopToOtherReaders)
{
    TempDir temp;
    const auto bundle = StandInClaude::create(temp.path(), {.version = "9.8.7"});

    EXPECT_EQ(bundle, temp / "Claude.app");
    const auto info = describedByPlistlib(bundle / "Contents" / "Info.plist");
    for (const char* line : {"CFBundleIdentifier str com.anthropic.claudefordesktop\n",
             "CFBundleExecutable str Claude\n", "CFBundleShortVersionString str 9.8.7\n",
             "CFBundleIconFile str electron.icns\n", "CFBundleURLTypes list \n", "ElectronBuildNumber int 4242\n",
             "NSHighResolutionCapable bool True\n", "ElectronAsarHeader bytes \n", "ElectronBuildDate datetime \n"})
        EXPECT_NE(info.find(line), std::string::npos) << line << " not in\n" << info;

    const auto icons = ChildProcess::run(
        "/usr/bin/icns2png", {.arguments = {"icns2png", "-l", (bundle / "Contents/Resources/electron.icns").string()}});
    // icnsutils 0.8 names but cannot decode the 128 px type.
    EXPECT_NE(icons.standardOutput.find("'ic07'"), std::string::npos) << icons.standardOutput;
    EXPECT_NE(icons.standardOutput.find("256x256"), std::string::npos) << icons.standardOutput;
    EXPECT_NE(icons.standardOutput.find("512x512"), std::string::npos) << icons.standardOutput;
    EXPECT_NE(icons.standardOutput.find("3 elements total"), std::string::npos) << icons.standardOutput;

    const auto framework = bundle / "Contents/Frameworks/Electron Framework.framework";
    EXPECT_EQ(fs::read_symlink(framework / "Versions/Current"), "A");
    EXPECT_EQ(fs::read_symlink(framework / "Electron Framework"), "Versions/Current/Electron Framework");
    EXPECT_TRUE(fs::is_regular_file(framework / "Electron Framework"));
    EXPECT_EQ(modeOf(bundle / "Contents/Frameworks/Claude Helper.app/Contents/MacOS/Claude Helper"), 0755u);
    EXPECT_EQ(modeOf(StandInClaude::executable(bundle)), 0755u);
}

TEST(StandInClaudeTest, PayloadAddsTheRequestedFilesAndBytes)
{
    TempDir small, large;
    const auto plain = StandInClaude::create(small.path());
    const auto heavy = StandInClaude::create(large.path(), {.payloadFiles = 250, .payloadBytes = 5'000'000});
    auto measure = [](const fs::path& root) {
        std::pair<int, std::uintmax_t> total {0, 0};
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            if (entry.is_regular_file() && !entry.is_symlink()) {
                ++total.first;
                total.second += entry.file_size();
            }
        }
        return total;
    };

    const auto [plainFiles, plainBytes] = measure(plain);
    const auto [heavyFiles, heavyBytes] = measure(heavy);
    EXPECT_GE(plainFiles, 30);
    EXPECT_GE(plainBytes, 500'000u);
    EXPECT_EQ(heavyFiles - plainFiles, 250);
    EXPECT_EQ(heavyBytes - plainBytes, 5'000'000u);
}

TEST(StandInClaudeTest, ExecutableRecordsHowItWasStarted)
{
    TempDir temp;
    const auto bundle = StandInClaude::create(temp.path());
    const auto dataDir = temp / "data dir";
    fs::create_directories(dataDir);
    const std::vector<std::string> arguments = {StandInClaude::executable(bundle).string(),
        "--user-data-dir=" + dataDir.string(), "two words", "line\nfeed", "", "it's \"quoted\" \\ $HOME *"};

    const auto first = ChildProcess::run(StandInClaude::executable(bundle),
        {.arguments = arguments,
            .environment = {{"KORVEL_STANDIN_RECORD", std::nullopt}, {"PROBE", "x\ny"}},
            .workingDirectory = temp.path()});
    const auto second = ChildProcess::run(StandInClaude::executable(bundle),
        {.arguments = {"Claude"},
            .environment = {{"KORVEL_STANDIN_RECORD", (dataDir / "standin-record.txt").string()}}});

    ASSERT_EQ(first.exitStatus, 0) << first.standardError;
    const auto records = StandInRecord::readAll(StandInClaude::recordFile(dataDir));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].arguments, arguments);
    EXPECT_EQ(records[0].pid, first.pid);
    EXPECT_EQ(records[0].workingDirectory, temp.path().string());
    EXPECT_EQ(records[0].environment.at("PROBE"), "x\ny");
    EXPECT_EQ(records[1].pid, second.pid);
    // A script sees the path it was started from as "$0".
    EXPECT_EQ(records[1].arguments, std::vector<std::string> {StandInClaude::executable(bundle).string()});
}

TEST(StandInClaudeTest, StaysRunningUntilTerminated)
{
    TempDir temp;
    const auto bundle = StandInClaude::create(temp.path());
    const auto record = temp / "record";
    auto environment =
        ChildProcess::environmentWith({{"KORVEL_STANDIN_STAY", "1"}, {"KORVEL_STANDIN_RECORD", record.string()}});
    std::vector<char*> envp;
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string program = StandInClaude::executable(bundle).string();
    char* argv[] = {program.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp.data()), 0);

    for (int attempt = 0; attempt < 100 && StandInRecord::readAll(record).empty(); ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(StandInRecord::readAll(record).size(), 1u);
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, WNOHANG), 0) << "it should still run";

    ::kill(pid, SIGTERM);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(StandInRecordTest, LeavesOutARecordStillBeingWritten)
{
    TempDir temp;
    const auto file = temp / "record";
    StandInRecord::append(
        file, {.arguments = {"a", "b c"}, .pid = 42, .workingDirectory = "/w", .environment = {{"X", "1"}}});
    writeText(file, readText(file) + std::string("begin\0argc=2\0only one\0", 23));

    const auto records = StandInRecord::readAll(file);

    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].arguments, (std::vector<std::string> {"a", "b c"}));
    EXPECT_EQ(records[0].pid, 42);
    EXPECT_EQ(records[0].workingDirectory, "/w");
    EXPECT_EQ(records[0].environment, (std::map<std::string, std::string> {{"X", "1"}}));
    EXPECT_TRUE(StandInRecord::readAll(temp / "missing").empty());
}

} // namespace
