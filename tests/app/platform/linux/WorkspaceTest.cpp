#include "app/platform/linux/LinuxWorkspace.hpp"
#include "app/platform/linux/RelayReports.hpp"
#include "app/platform/linux/X11Desktop.hpp"
#include "tests/app/platform/linux/PlatformTest.hpp"

#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>

using namespace korvel;
using namespace korvel::test;
using namespace std::chrono_literals;

namespace {

// Bundles are named X.app with the identifier com.example.X; events are recorded as "launched X", "quit X" and
// "activated X".
class LinuxWorkspaceTest : public ::testing::Test
{
protected:
    void SetUp() override { record(*workspace, seen); }

    static void record(LinuxWorkspace& workspace, std::vector<std::string>& events)
    {
        using enum Workspace::Event;
        for (const auto& [event, word] : {std::pair {DidLaunchApplication, "launched "},
                 {DidTerminateApplication, "quit "}, {DidActivateApplication, "activated "}})
            workspace.observe(event, [&events, word](const std::shared_ptr<RunningApplication>& application) {
                const auto id = application ? application->bundleIdentifier().value_or("") : "";
                events.push_back(word + (id.starts_with("com.example.") ? id.substr(12) : id));
            });
    }

    bool saw(const std::string& event) const { return std::ranges::count(seen, event) > 0; }
    bool waitFor(const std::string& event) const
    {
        return waitUntil([&] { return saw(event); });
    }

    std::shared_ptr<LinuxRunningApplication> running(const std::string& name) const
    {
        for (const auto& application : workspace->runningApplications())
            if (const auto id = application->bundleIdentifier(); id == name || id == "com.example." + name)
                return std::static_pointer_cast<LinuxRunningApplication>(application);
        return nullptr;
    }

    std::filesystem::path bundle(
        const std::string& name, const std::string& executable = stayingScript(), const std::string& folder = "")
    {
        return makeBundle(sandbox.root() / folder, name, "com.example." + name, executable);
    }

    Sandbox sandbox;
    std::unique_ptr<LinuxWorkspace> workspace = std::make_unique<LinuxWorkspace>(nullptr, 50ms);
    std::vector<std::string> seen;
};

// A Unix stream socket connected to `path`, or -1.
int connectTo(const std::filesystem::path& path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

// Writes `bytes` to the relay reports socket as a relay does and waits until Korvel has closed the connection, so
// that everything it sent has been read and the events it caused have been delivered.
void sendReport(const std::string& bytes)
{
    const int fd = connectTo(*RelayReports::defaultSocket());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    ::shutdown(fd, SHUT_WR);
    EXPECT_TRUE(waitUntil([fd] {
        char byte = 0;
        const ssize_t count = ::recv(fd, &byte, 1, MSG_DONTWAIT);
        return count == 0 || (count < 0 && errno != EAGAIN);
    }));
    ::close(fd);
    spin();
}

} // namespace

TEST_F(LinuxWorkspaceTest, ProgramsAndScriptsFromBundlesAreOneApplicationPerBundleWithTheOldestProcessAsMain)
{
    // The main script starts a helper from the same bundle, as Chromium-style apps do; both by relative paths.
    const auto family = bundle("family",
        "#!/bin/sh\n\"$(dirname \"$0\")/Helper\" </dev/null >/dev/null 2>&1 & helper=$!\n"
        "trap 'kill $helper $child 2>/dev/null; exit 0' TERM\n"
        "sleep 1000 </dev/null >/dev/null 2>&1 & child=$!\nwait $child\n");
    writeExecutable(family / "Contents" / "MacOS" / "Helper", stayingScript());
    std::filesystem::rename(bundle("stray", stayingScript(), "stray") / "Contents" / "MacOS", sandbox.root() / "loose");
    BackgroundProcess loose(sandbox.root() / "loose" / "stray");
    BackgroundProcess program(bundleExecutable(bundle("program", sleepProgram())), {{"program", "1000"}});
    // A profile app's Wayland relay lives beside its launcher and outlives its Claude for a moment: not the app.
    writeExecutable(sandbox.root() / "program.app/Contents/MacOS/KorvelRelay", sleepProgram());
    BackgroundProcess relay(sandbox.root() / "program.app/Contents/MacOS/KorvelRelay", {{"KorvelRelay", "1000"}});
    BackgroundProcess script(
        "/bin/sh", {.arguments = {"sh", "./family"}, .workingDirectory = family / "Contents" / "MacOS"});

    ASSERT_TRUE(waitFor("launched program") && waitFor("launched family"));
    ASSERT_TRUE(waitUntil([&] { return running("family")->pids().size() == 2; }));
    const auto programApp = running("program");
    const auto familyApp = running("family");
    EXPECT_EQ(programApp->bundle(), std::filesystem::canonical(sandbox.root() / "program.app"));
    EXPECT_EQ(programApp->mainProcess().pid, program.pid());
    EXPECT_EQ(familyApp->bundle(), std::filesystem::canonical(family));
    EXPECT_EQ(familyApp->mainProcess().pid, script.pid());
    for (const auto& application : workspace->runningApplications())
        for (const pid_t stray : {loose.pid(), relay.pid()})
            EXPECT_FALSE(static_cast<const LinuxRunningApplication&>(*application).owns(stray));

    // Without X11 the frontmost application is unknown and activation does nothing.
    EXPECT_EQ(X11Desktop::connect(), nullptr); // the sandbox unsets DISPLAY
    sandbox.set("DISPLAY", ":" + std::to_string(900 + ::getpid() % 90) + ".0");
    EXPECT_EQ(X11Desktop::connect(), nullptr); // no server there
    programApp->activate();
    programApp->unhide();
    EXPECT_EQ(workspace->frontmostApplication(), nullptr);

    // terminate() asks the main process to quit; the script's trap ends it with status 0.
    familyApp->terminate();
    EXPECT_EQ(script.wait(), 0);
    EXPECT_TRUE(waitUntil([&] { return familyApp->isTerminated(); })) << "once its helper has gone too";
    EXPECT_TRUE(waitFor("quit family"));
    EXPECT_FALSE(programApp->isTerminated());
    program.signal(SIGKILL);
    EXPECT_TRUE(waitFor("quit program"));
    EXPECT_TRUE(programApp->isTerminated());
    EXPECT_EQ(running("program"), nullptr);
    EXPECT_EQ(std::ranges::count(seen, "launched family"), 1);
    EXPECT_FALSE(saw("launched stray") || saw("activated program"));
}

TEST_F(LinuxWorkspaceTest, AProcessThatExecsIntoABundleIsFound)
{
    // The same process first runs the shell, then becomes the bundle's program, or the same shell running the
    // bundle's script (same executable, new command line), or a compiled wrapper becomes the bundle's program
    // (a new executable for a process the scan had settled as no app): the scan must notice every exec.
    const auto go = sandbox.root() / "go";
    const std::string wait = "while [ ! -e '" + go.string() + "' ]; do sleep 0.05; done; exec ";
    BackgroundProcess later("/bin/sh",
        {.arguments = {
             "sh", "-c", wait + "'" + bundleExecutable(bundle("later", sleepProgram())).string() + "' 1000"}});
    BackgroundProcess scripted(
        "/bin/sh", {.arguments = {"sh", "-c", wait + "sh '" + bundleExecutable(bundle("scripted")).string() + "'"}});
    BackgroundProcess wrapped(KORVEL_EXEC_WHEN_PRESENT,
        {.arguments = {
             "ExecWhenPresent", go.string(), bundleExecutable(bundle("wrapped", sleepProgram())).string(), "1000"}});
    spin(300ms); // several scans see the shells and the wrapper
    EXPECT_FALSE(saw("launched later") || saw("launched scripted") || saw("launched wrapped"));
    writeText(go, "");
    ASSERT_TRUE(waitFor("launched later"));
    EXPECT_EQ(running("later")->mainProcess().pid, later.pid());
    ASSERT_TRUE(waitFor("launched scripted"));
    EXPECT_EQ(running("scripted")->mainProcess().pid, scripted.pid());
    ASSERT_TRUE(waitFor("launched wrapped"));
    EXPECT_EQ(running("wrapped")->mainProcess().pid, wrapped.pid());
}

TEST_F(LinuxWorkspaceTest, OpenApplicationStartsTheBundleDetachedOnceAndReportsWhatIsWrong)
{
    const auto opened = bundle("opened");
    await(workspace->openApplication(opened));
    ASSERT_TRUE(waitFor("launched opened"));
    const pid_t pid = running("opened")->mainProcess().pid;
    EXPECT_NE(::getsid(pid), ::getsid(0)) << "runs in a session of its own";
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1) << "not our child";
    // Open again while it runs: brought forward, not started twice.
    await(workspace->openApplication(opened));
    // The script's own fork counts for as long as it has not exec'ed what it starts.
    EXPECT_TRUE(waitUntil([&] { return running("opened")->pids() == std::set<pid_t> {pid}; }));
    spin(300ms);
    EXPECT_EQ(running("opened")->pids(), std::set<pid_t> {pid});
    running("opened")->terminate();

    const auto missing = bundle("missing");
    std::filesystem::remove(bundleExecutable(missing));
    const auto plain = bundle("plain");
    std::filesystem::permissions(bundleExecutable(plain), std::filesystem::perms(0644));
    const auto unnamed = bundle("unnamed");
    InfoPlistPatcher::write({{"CFBundleIdentifier", "com.example.unnamed"}}, unnamed / "Contents" / "Info.plist");
    using enum FileError::Kind;
    for (const auto& [target, kind] :
        std::vector<std::pair<std::filesystem::path, FileError::Kind>> {{missing, ReadNoSuchFile}, {plain, ReadUnknown},
            {unnamed, ReadCorrupt}, {sandbox.root() / "Nowhere.app", ReadNoSuchFile}}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(thrown<FileError>([&] { await(workspace->openApplication(target)); }).kind(), kind);
    }
}

TEST_F(LinuxWorkspaceTest, AnApplicationThatHasJustQuitIsStartedAnewBeforeTheNextScanNotices)
{
    // One process, which the pid started counts as the app's: no child of a script can outlive the quit.
    const auto again = bundle("again", "#!/bin/sh\nexec sleep 1000\n");
    await(workspace->openApplication(again));
    ASSERT_TRUE(waitFor("launched again"));
    const auto first = running("again");

    // A restart: quit, then open at once. Without the event loop no scan result arrives meanwhile.
    first->terminate();
    for (int poll = 0; poll < 500 && !first->isTerminated(); ++poll)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(first->isTerminated());
    ASSERT_EQ(running("again"), first) << "the latest scan still lists it";
    await(workspace->openApplication(again));
    ASSERT_TRUE(waitUntil([&] { return running("again") && running("again") != first; }));
    running("again")->terminate();
}

TEST_F(LinuxWorkspaceTest, OpenURLsHandsEveryLinkOverAsOneArgumentNeverThroughAShell)
{
    const auto record = sandbox.root() / "arguments";
    const std::vector<std::string> urls = {
        "claude://claude.ai/new?q=a b", "claude://x/\"quoted\"&$HOME;`id`", "claude://third/'single'"};
    workspace->openURLs(urls, bundle("receiver", stayingScript(record)));
    ASSERT_TRUE(waitFor("launched receiver"));
    EXPECT_TRUE(waitUntil([&] { return recordedArguments(record) == urls; })) << readText(record);
    running("receiver")->terminate();
    // A bundle without executable: nothing happens, nothing is thrown.
    workspace->openURLs(urls, sandbox.root() / "Nowhere.app");
}

TEST_F(LinuxWorkspaceTest, BundleIdentifiersFollowChangesOfTheInfoPlist)
{
    const auto file = bundle("before") / "Contents" / "Info.plist";
    EXPECT_EQ(workspace->bundleIdentifier(sandbox.root() / "before.app"), "com.example.before");
    const auto before = std::filesystem::last_write_time(file);
    InfoPlistPatcher::write({{"CFBundleIdentifier", "com.example.after"}}, file);
    std::filesystem::last_write_time(file, before + 1s); // a new time even on a coarse clock
    EXPECT_EQ(workspace->bundleIdentifier(sandbox.root() / "before.app"), "com.example.after");
    std::filesystem::remove(file);
    EXPECT_EQ(workspace->bundleIdentifier(sandbox.root() / "before.app"), std::nullopt);
}

TEST_F(LinuxWorkspaceTest, ApplicationsRunningAtStartAreNotLaunchesAndARestrictedWorkspaceForgetsThoseOutside)
{
    // Started once the first look is over: one that finds it already running rightly tells no launch.
    ASSERT_TRUE(waitFor("launched "));
    BackgroundProcess outside(
        bundleExecutable(bundle("out", sleepProgram(), "outside")), {.arguments = {"out", "1000"}});
    ASSERT_TRUE(waitFor("launched out"));
    seen.clear();
    workspace = std::make_unique<LinuxWorkspace>(nullptr, 50ms);
    record(*workspace, seen);
    ASSERT_TRUE(waitFor("launched ")) << "the first look tells that what runs is known, naming no application";
    EXPECT_TRUE(running("out"));
    workspace->restrictTo(sandbox.root() / "inside" / ".." / "inside");
    EXPECT_TRUE(workspace->runningApplications().empty());
    BackgroundProcess inside(bundleExecutable(bundle("in", sleepProgram(), "inside")), {.arguments = {"in", "1000"}});
    ASSERT_TRUE(waitFor("launched in"));
    outside.signal(SIGKILL);
    spin(300ms);
    EXPECT_EQ(seen, (std::vector<std::string> {"launched ", "launched in"})) << "known at start; forgotten, not quit";
}

TEST_F(LinuxWorkspaceTest, ClaudeOfALinuxInstallIsAProfilesByItsDataFolderAndItsHelpersFollowTheirParent)
{
    // One program for the original Claude and every profile's: the data folder on the command line tells them
    // apart; the mark the launcher leaves in the environment is inherited by whatever a profile starts.
    const auto install = sandbox.root() / "usr/lib/claude-desktop";
    const auto program = install / "claude-desktop";
    writeExecutable(program, readText("/bin/dash")); // takes any arguments after its script
    ScopedEnvironment env("KORVEL_CLAUDE_APP", install.string());
    const auto work = bundle("Work", sleepProgram(), "Apps");
    const auto data = sandbox.root() / "data folders" / "Work";
    std::filesystem::create_directories(data);
    InfoPlistPatcher::write(
        {{"CFBundleIdentifier", "com.example.Work"}, {"CFBundleExecutable", "Work"}, {"KVLUserDataDir", data.string()}},
        work / "Contents" / "Info.plist");
    workspace = std::make_unique<LinuxWorkspace>(nullptr, 50ms);
    workspace->setAppsFolder(sandbox.root() / "Apps");
    workspace->restrictTo(sandbox.root()); // other tests' apps run meanwhile
    record(*workspace, seen);
    const std::map<std::string, std::optional<std::string>> marked {{"KORVEL_PROFILE_APP", work.string()}};

    const std::string stay = stayingScript();
    const auto helperPid = sandbox.root() / "helper.pid";
    // The profile's main process starts a helper that names no data folder, as Chromium's zygote does.
    const std::string withHelper = "'" + program.string() +
        "' -c \"$(printf '%s' \"$STAY\")\" --type=zygote & "
        "echo $! >'" +
        helperPid.string() + "'\n" + stay;
    BackgroundProcess original(program, {{"claude-desktop", "-c", stay}});
    BackgroundProcess inherited(program, {{"claude-desktop", "-c", stay}, marked});
    BackgroundProcess profile(
        program, {{"claude-desktop", "-c", withHelper, "--user-data-dir=" + (data / ".").string()}, {{"STAY", stay}}});
    BackgroundProcess toolServer("/bin/sleep", {{"sleep", "1000"}, marked});
    // The shell creates the file before echo writes to it.
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(helperPid) && readText(helperPid).ends_with('\n'); }));
    const pid_t helper = std::stoi(readText(helperPid));
    // The scripts' own forks run the same program for a moment before they exec sleep: wait for the settled sets.
    EXPECT_TRUE(waitUntil([&] {
        return running("Work") && running("Work")->pids() == std::set<pid_t> {profile.pid(), helper};
    })) << ::testing::PrintToString(running("Work") ? running("Work")->pids() : std::set<pid_t> {});
    EXPECT_EQ(running("Work")->mainProcess().pid, profile.pid()) << "the helper is no main process";
    std::shared_ptr<LinuxRunningApplication> claude;
    EXPECT_TRUE(waitUntil([&] {
        claude = running("com.anthropic.claudefordesktop");
        return claude && claude->pids() == std::set<pid_t> {original.pid(), inherited.pid()};
    })) << "the inherited mark does not make a profile's Claude; the tool server is nobody's";
    EXPECT_EQ(workspace->runningApplications().size(), 2u);

    // Quit ends the main process; the app has quit once its helper is gone too.
    running("Work")->terminate();
    EXPECT_EQ(profile.wait(), 0);
    ::kill(helper, SIGTERM);
    ASSERT_TRUE(waitFor("quit Work"));
    EXPECT_FALSE(saw("quit com.anthropic.claudefordesktop"));
}

TEST(RelayReports, TheSocketIsKorvelsReplacingADeadOnesAndLinksButNotALiveOne)
{
    Sandbox sandbox;
    const auto socket = sandbox.runtimeDir() / "korvel-relay-reports";
    const auto target = sandbox.root() / "target";
    writeText(target, "kept");
    const auto nothing = [](const std::string&, bool) {};
    const auto makeStale = [&] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address {.sun_family = AF_UNIX, .sun_path = {}};
        std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::close(fd); // its Korvel died
    };
    const std::vector<std::pair<std::string, std::function<void()>>> before = {
        {"nothing", [] {}},
        {"a dead Korvel's socket", makeStale},
        {"a link planted there", [&] { std::filesystem::create_symlink(target, socket); }},
    };
    for (const auto& [name, prepare] : before) {
        prepare();
        auto reports = std::make_unique<RelayReports>(socket, nothing);
        struct stat info
        { };
        ASSERT_EQ(::lstat(socket.c_str(), &info), 0) << name;
        EXPECT_TRUE(reports->isListening() && S_ISSOCK(info.st_mode)) << name;
        EXPECT_EQ(info.st_mode & 07777, 0600u) << name;
        EXPECT_EQ(readText(target), "kept") << name;
        const int fd = connectTo(socket);
        EXPECT_GE(fd, 0) << name;
        ::close(fd);

        // A second Korvel in the same folder leaves the live socket alone, also when it goes.
        EXPECT_FALSE(RelayReports(socket, nothing).isListening()) << name;
        EXPECT_EQ(std::filesystem::status(socket).type(), std::filesystem::file_type::socket) << name;
        reports.reset();
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(socket))) << name;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(sandbox.runtimeDir()), {}), 0) << "no temporary left";
}

TEST_F(LinuxWorkspaceTest, RelayReportsMakeTheProfileInFrontOnceAnyLookHasFoundIt)
{
    sandbox.set("WAYLAND_DISPLAY", "wayland-test");
    const std::string work = "com.veldrane.Korvel.profile.0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D";
    const std::string home = "com.veldrane.Korvel.profile.9C8B7A6F-5E4D-4C3B-8A29-1F0E0D0C0B0A";
    // A command's workspace, made while Korvel starts, neither takes the relays' socket nor leaves Korvel deaf.
    auto command = std::make_unique<LinuxWorkspace>(nullptr, 50ms);
    workspace = std::make_unique<LinuxWorkspace>(nullptr, 50ms);
    workspace->listenToRelays();
    command.reset();
    workspace->restrictTo(sandbox.root());
    record(*workspace, seen);
    workspace->observe(Workspace::Event::FrontmostUnknown, [&](const auto&) { seen.push_back("unknown"); });
    ASSERT_TRUE(waitFor("launched "));
    BackgroundProcess workApp(bundleExecutable(makeBundle(sandbox.root(), "Work", work, stayingScript())));
    ASSERT_TRUE(waitFor("launched " + work));
    const auto front = [&] {
        const auto application = workspace->frontmostApplication();
        return application ? application->bundleIdentifier().value_or("?") : "none";
    };
    // Sends `bytes` and returns the events they caused.
    const auto after = [&](const std::string& bytes) {
        seen.clear();
        sendReport(bytes);
        return seen;
    };
    using Events = std::vector<std::string>;

    EXPECT_EQ(after("active " + work + "\n"), Events {"activated " + work});
    EXPECT_EQ(front(), work);
    // A profile app no look has found yet: unknown until one does.
    EXPECT_EQ(after("active " + home + "\n"), Events {"unknown"});
    EXPECT_EQ(front(), "none");
    seen.clear();
    BackgroundProcess homeApp(bundleExecutable(makeBundle(sandbox.root(), "Home", home, stayingScript())));
    ASSERT_TRUE(waitFor("activated " + home));
    EXPECT_EQ(front(), home);
    // Relays report independently: Work's window losing the focus after Home's gained it leaves Home in front.
    EXPECT_EQ(after("inactive " + work + "\nactive " + work + "\n"), Events {"activated " + work});

    // A sender that never finishes its line blocks nobody; anything but a report ends its connection unheard.
    const int silent = connectTo(*RelayReports::defaultSocket());
    ASSERT_EQ(::send(silent, "active com", 10, MSG_NOSIGNAL), 10);
    for (const std::string& wrong :
        std::vector<std::string> {"bogus\n", "active\n", "active \n", "ACTIVE " + work + "\n",
            "active " + work + " extra\n", "active " + work + std::string(1, '\0') + "\n",
            "active " + std::string(RelayReports::maximumLine, 'a') + "\n", std::string(8000, 'x'), "inactive " + work})
        EXPECT_EQ(after(wrong + "inactive " + work + "\n"), Events {}) << wrong.substr(0, 40);
    EXPECT_EQ(front(), work);
    ::close(silent);

    // Only profile apps have relays; the active window going leaves the front unknown.
    EXPECT_EQ(after("active com.example.Work\ninactive " + work + "\n"), Events {"unknown"});
    EXPECT_EQ(front(), "none");
}

TEST_F(LinuxWorkspaceTest, ActivatingNativeWaylandWindowsStartsTheirProgramAgainToHandOver)
{
    sandbox.set("WAYLAND_DISPLAY", "wayland-test");
    const auto starts = sandbox.root() / "starts";
    const auto app = bundle("native", "#!/bin/sh\necho $$ >>'" + starts.string() + "'\n" + stayingScript().substr(10));
    BackgroundProcess first(bundleExecutable(app));
    workspace = std::make_unique<LinuxWorkspace>(nullptr, 50ms);
    workspace->restrictTo(sandbox.root());
    ASSERT_TRUE(waitUntil([&] { return running("native") != nullptr; }));
    EXPECT_TRUE(running("native")->activate());
    std::vector<std::string> pids;
    ASSERT_TRUE(waitUntil([&] {
        std::istringstream lines(readText(starts));
        pids.clear();
        for (std::string line; std::getline(lines, line);)
            pids.push_back(line);
        return pids.size() == 2;
    }));
    ::kill(std::stoi(pids[1]), SIGTERM);
    EXPECT_EQ(pids[0], std::to_string(first.pid()));

    std::filesystem::remove(bundleExecutable(app));
    EXPECT_FALSE(running("native")->activate()) << "nothing to start";
}
