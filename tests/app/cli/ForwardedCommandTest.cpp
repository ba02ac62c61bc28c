// `korvel` while Korvel runs: the command is carried out by the running application's model, and the caller sees
// the same output and exit status as without it.

#include "tests/app/cli/KorvelHome.hpp"

#include "core/building/CloneError.hpp"
#include "tests/support/BackgroundProcess.hpp"
#include "tests/support/StandInClaude.hpp"
#include "tests/support/StandInRecord.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <memory>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace korvel::test {
namespace {

using Strings = std::vector<std::string>;

// Korvel running headless in a home, for as long as the object lives.
std::unique_ptr<BackgroundProcess> startKorvel(const KorvelHome& home, const KorvelHome::Environment& extra = {})
{
    KorvelHome::Environment environment = home.environment;
    for (const auto& [name, value] : extra)
        environment[name] = value;
    auto korvel = std::make_unique<BackgroundProcess>(KorvelHome::applicationProgram(),
        BackgroundProcess::Options {.arguments = {"Korvel"}, .environment = environment});
    EXPECT_TRUE(KorvelHome::eventually([&home] { return std::filesystem::exists(home.socketPath()); }))
        << "Korvel did not start listening";
    return korvel;
}

// The terminal's view of a command's standard error: `python3` gives the command a pseudo-terminal for it.
std::string errorOutputOnATerminal(const KorvelHome& home, const Strings& arguments)
{
    const std::filesystem::path script = home.temp / "on-a-terminal.py";
    writeText(script, R"py(import os, pty, subprocess, sys
master, slave = pty.openpty()
command = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=slave)
os.close(slave)
seen = b""
try:
    while chunk := os.read(master, 4096):
        seen += chunk
except OSError:  # the command closed the terminal
    pass
command.wait()
sys.stdout.buffer.write(seen.replace(b"\r\n", b"\n"))
)py");
    Strings all {"python3", script.string(), KorvelHome::korvelProgram().string()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return home.run("/usr/bin/python3", all).output;
}

TEST(ForwardedCommand, GivesTheSameResultsAsACommandRunHere)
{
    KorvelHome forwarded;
    KorvelHome here;
    const auto korvel = startKorvel(forwarded);

    const std::vector<Strings> script {{"create", "Work"}, {"create", "Home", "--color", "teal"}, {"list"},
        {"list", "--json"}, {"rename", "home", "House"}, {"status"}, {"move", "House", "1"},
        {"status", "Work", "--json"}, {"recolor", "Work", "green"}, {"rename", "Nobody", "x"}, {"move", "Work", "7"},
        {"recolor", "Work", "mauve"}, {"create", "  "}, {"sync"}, {"sync", "--json"},
        {"claude-code", "House", "--export"}, {"delete", "Work"}, {"list", "--json"}, {"open", "Nobody"},
        {"--version"}};
    for (const Strings& arguments : script) {
        const auto local = here.korvel(arguments);
        const auto there = forwarded.korvel(arguments);
        // Checked at once: Korvel answers only when what the command started (a rebuild after a rename) is done.
        const std::string command = arguments.front();
        EXPECT_EQ(forwarded.installedApps(), here.installedApps()) << command;
        EXPECT_EQ(there.status, local.status) << command;
        EXPECT_EQ(normalized(there.output, forwarded.temp.path()), normalized(local.output, here.temp.path()))
            << command;
        EXPECT_EQ(normalized(there.errorOutput, forwarded.temp.path()), normalized(local.errorOutput, here.temp.path()))
            << command;
    }
    EXPECT_EQ(forwarded.storedNames(), Strings {"House"});
    EXPECT_EQ(here.storedNames(), forwarded.storedNames());
    EXPECT_EQ(forwarded.stored("House").color, ProfileColor::Teal);
    EXPECT_EQ(forwarded.appInfo("Claude House", "CFBundleDisplayName"), "Claude House");
}

TEST(ForwardedCommand, RunsInsideKorvelWhoseModelSeesTheResult)
{
    KorvelHome home;
    const std::filesystem::path links = home.temp / "links.txt";
    const auto korvel = startKorvel(
        home, {{"KORVEL_ORIGIN", "Korvel"}, {"KORVEL_STANDIN_STAY", "1"}, {"KORVEL_STANDIN_RECORD", std::nullopt}});
    const KorvelHome::Environment command {{"KORVEL_ORIGIN", "korvel"}};

    ASSERT_EQ(home.korvel({"create", "Work", "--open"}, command).status, 0);
    const Profile work = home.stored("Work");
    const std::filesystem::path record = StandInClaude::recordFile(home.paths.dataDir(work.id));
    ASSERT_TRUE(KorvelHome::eventually([&] { return StandInRecord::readAll(record).size() == 1; }));
    const StandInRecord opened = StandInRecord::readAll(record).front();
    home.endWithTest(opened.pid);
    EXPECT_EQ(opened.environment.at("KORVEL_ORIGIN"), "Korvel") << "Korvel itself opened the app";

    // Korvel's own model notices the running app, and the command line reads that model.
    ASSERT_TRUE(KorvelHome::eventually([&] {
        return nlohmann::json::parse(home.korvel({"list", "--json"}).output)["profiles"][0]["running"] == true;
    }));
    const auto renamed = home.korvel({"rename", "Work", "Job"});
    EXPECT_EQ(renamed.status, 0);
    EXPECT_EQ(renamed.errorOutput, "The new name and color apply after you quit this profile’s app.\n");
    EXPECT_EQ(home.korvel({"status", "Job"}).output, "Needs rebuild: profile was renamed\n");

    // A failure inside Korvel comes back as the exit status and the model's last message: the app quit, its
    // rebuild failed without Claude Desktop, and so did the opening.
    const std::filesystem::path moved = home.temp / "Claude-away.app";
    std::filesystem::rename(home.claude, moved);
    const auto restart = home.korvel({"restart", "Job"});
    EXPECT_EQ(restart.status, 1);
    EXPECT_EQ(restart.errorOutput, CloneError::sourceMissing(home.claude).description() + "\n");
    EXPECT_TRUE(KorvelHome::eventually([&] { return ::kill(opened.pid, 0) != 0; }));
    std::filesystem::rename(moved, home.claude);
}

TEST(ForwardedCommand, ListTellsWhatIsOnDiskAsStatusDoes)
{
    KorvelHome home;
    const auto korvel = startKorvel(home);
    ASSERT_EQ(home.korvel({"create", "Work"}).status, 0);
    StandInClaude::setInfo(home.claude, "CFBundleShortVersionString", "1.3.0");
    EXPECT_EQ(home.korvel({"status", "Work"}).output, "Update available (1.2.3 → 1.3.0)\n");
    const std::string list = home.korvel({"list"}).output;
    EXPECT_NE(list.find("Work  orange  Update available (1.2.3 → 1.3.0)  Not running"), std::string::npos) << list;
    EXPECT_EQ(
        nlohmann::json::parse(home.korvel({"list", "--json"}).output)["profiles"][0]["status"]["kind"], "outdated");
}

TEST(ForwardedCommand, ProgressGoesToATerminalOnlyWhereverTheCommandRuns)
{
    const Strings steps {"Work: Creating app…", "Work: Copying Claude…", "Work: Writing Info.plist…",
        "Work: Installing the launcher…", "Work: Drawing the icon…", "Work: Signing…", "Work: Installing the app…"};
    auto expectSteps = [&steps](const std::string& seen) {
        size_t at = 0;
        for (const std::string& step : steps) {
            at = seen.find(step + "\n", at);
            ASSERT_NE(at, std::string::npos) << step << " in:\n" << seen;
        }
    };

    KorvelHome here;
    expectSteps(errorOutputOnATerminal(here, {"create", "Work"}));
    EXPECT_EQ(here.korvel({"rebuild", "Work"}).errorOutput, "") << "not a terminal: no progress";

    KorvelHome forwarded;
    const auto korvel = startKorvel(forwarded);
    expectSteps(errorOutputOnATerminal(forwarded, {"create", "Work"}));
    EXPECT_EQ(forwarded.korvel({"rebuild", "Work"}).errorOutput, "");
}

// The process listening on a single-instance socket, as the kernel tells its peer; -1 when none answers.
pid_t listeningProcess(const std::filesystem::path& socket)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
    ucred peer {};
    socklen_t size = sizeof peer;
    const bool known = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0;
    ::close(fd);
    return known ? peer.pid : -1;
}

TEST(ForwardedCommand, SwitcherStartsKorvelWhenItIsNotRunningAndOtherwiseShowsInTheRunningOne)
{
    KorvelHome home;
    // Returns while the Korvel it started runs on: that Korvel holds none of the caller's outputs.
    EXPECT_EQ(home.korvel({"switcher"}), KorvelHome::succeeded);
    const pid_t korvel = listeningProcess(home.socketPath());
    ASSERT_GT(korvel, 0) << "no Korvel was started";
    struct Ending
    {
        pid_t pid;
        ~Ending()
        {
            ::kill(pid, SIGTERM);
            EXPECT_TRUE(KorvelHome::eventually([this] { return ::kill(pid, 0) != 0; }));
        }
    } ending {korvel};
    EXPECT_EQ(home.korvel({"switcher"}), KorvelHome::succeeded);
    EXPECT_EQ(listeningProcess(home.socketPath()), korvel) << "shown by the running Korvel, not another";
    EXPECT_EQ(home.korvel({"switcher", "now"}).status, 2);
}

} // namespace
} // namespace korvel::test
