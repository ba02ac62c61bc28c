#include "app/platform/linux/LinuxWorkspace.hpp"
#include "app/platform/linux/X11Desktop.hpp"
#include "core/support/FileError.hpp"
#include "tests/app/platform/linux/Sandbox.hpp"
#include "tests/app/platform/linux/TestBundle.hpp"
#include "tests/app/support/Await.hpp"
#include "tests/support/BackgroundProcess.hpp"
#include "tests/support/Thrown.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace korvel;
using namespace korvel::test;
using namespace std::chrono_literals;

namespace {

// Workspace events are recorded as "launched ID", "quit ID" and "activated ID".
class LinuxWorkspaceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        workspace = std::make_unique<LinuxWorkspace>(nullptr, 50ms);
        record(*workspace, seen);
    }

    static void record(LinuxWorkspace& workspace, std::vector<std::string>& events)
    {
        using enum Workspace::Event;
        for (const auto& [event, word] : {std::pair {DidLaunchApplication, "launched "},
                 {DidTerminateApplication, "quit "}, {DidActivateApplication, "activated "}})
            workspace.observe(event, [&events, word](const std::shared_ptr<RunningApplication>& application) {
                events.push_back(word + (application ? application->bundleIdentifier().value_or("") : "?"));
            });
    }

    bool saw(const std::string& event) const { return std::ranges::count(seen, event) > 0; }
    bool waitFor(const std::string& event) const
    {
        return waitUntil([&] { return saw(event); });
    }

    std::shared_ptr<LinuxRunningApplication> running(const std::string& identifier) const
    {
        for (const auto& application : workspace->runningApplications())
            if (application->bundleIdentifier() == identifier)
                return std::static_pointer_cast<LinuxRunningApplication>(application);
        return nullptr;
    }

    std::filesystem::path bundle(const std::string& name, const std::string& executable = stayingScript())
    {
        return makeBundle(sandbox.root(), name, "com.example." + name, executable);
    }

    Sandbox sandbox;
    std::unique_ptr<LinuxWorkspace> workspace;
    std::vector<std::string> seen;
};

} // namespace

TEST_F(LinuxWorkspaceTest, ProgramsAndScriptsRunningFromBundlesAreApplicationsWithTheirIdentifiers)
{
    const auto program = bundle("program", sleepProgram());
    const auto script = bundle("script");
    const auto stray = makeBundle(sandbox.root() / "stray", "stray", "com.example.stray", stayingScript());
    std::filesystem::rename(stray / "Contents" / "MacOS", sandbox.root() / "loose");
    BackgroundProcess programProcess(bundleExecutable(program), {.arguments = {"program", "1000"}});
    BackgroundProcess scriptProcess(bundleExecutable(script));
    BackgroundProcess loose(sandbox.root() / "loose" / "stray");
    BackgroundProcess plain("/bin/sleep", {.arguments = {"sleep", "1000"}});

    ASSERT_TRUE(waitFor("launched com.example.program") && waitFor("launched com.example.script"));
    const auto programApp = running("com.example.program");
    const auto scriptApp = running("com.example.script");
    EXPECT_EQ(programApp->bundle(), std::filesystem::canonical(program));
    EXPECT_EQ(programApp->mainProcess().pid, programProcess.pid());
    EXPECT_EQ(scriptApp->bundle(), std::filesystem::canonical(script));
    EXPECT_EQ(scriptApp->mainProcess().pid, scriptProcess.pid());
    for (const auto& application : workspace->runningApplications()) {
        const auto& bundled = static_cast<const LinuxRunningApplication&>(*application);
        EXPECT_FALSE(bundled.owns(loose.pid()) || bundled.owns(plain.pid()));
    }

    // terminate() asks the main process to quit; the script's trap ends it with status 0.
    scriptApp->terminate();
    EXPECT_EQ(scriptProcess.wait(), 0);
    EXPECT_TRUE(scriptApp->isTerminated());
    EXPECT_TRUE(waitFor("quit com.example.script"));
    EXPECT_FALSE(programApp->isTerminated());
    programProcess.signal(SIGKILL);
    EXPECT_TRUE(waitFor("quit com.example.program"));
    EXPECT_TRUE(programApp->isTerminated());
    EXPECT_EQ(running("com.example.program"), nullptr);
    EXPECT_FALSE(saw("launched com.example.stray"));
}

TEST_F(LinuxWorkspaceTest, ScriptsStartedWithRelativePathsAndProcessesThatExecIntoABundleAreFound)
{
    const auto script = bundle("relative");
    BackgroundProcess relative(
        "/bin/sh", {.arguments = {"sh", "./relative"}, .workingDirectory = script / "Contents" / "MacOS"});
    ASSERT_TRUE(waitFor("launched com.example.relative"));
    EXPECT_EQ(running("com.example.relative")->bundle(), std::filesystem::canonical(script));

    // The same process first runs the shell, then becomes the bundle's program: the scan must notice the exec.
    const auto go = sandbox.root() / "go";
    const std::string command = "while [ ! -e '" + go.string() + "' ]; do sleep 0.05; done; exec '" +
        bundleExecutable(bundle("later", sleepProgram())).string() + "' 1000";
    BackgroundProcess later("/bin/sh", {.arguments = {"sh", "-c", command}});
    spin(300ms); // several scans see the shell
    EXPECT_FALSE(saw("launched com.example.later"));
    writeText(go, "");
    ASSERT_TRUE(waitFor("launched com.example.later"));
    EXPECT_EQ(running("com.example.later")->mainProcess().pid, later.pid());
}

TEST_F(LinuxWorkspaceTest, OneApplicationPerBundleWithTheOldestProcessAsMain)
{
    // The main script starts a helper from the same bundle, as Chromium-style apps do.
    const auto family = bundle("family",
        "#!/bin/sh\n\"$(dirname \"$0\")/Helper\" </dev/null >/dev/null 2>&1 & helper=$!\n"
        "trap 'kill $helper $child 2>/dev/null; exit 0' TERM\n"
        "sleep 1000 </dev/null >/dev/null 2>&1 & child=$!\nwait $child\n");
    writeExecutable(family / "Contents" / "MacOS" / "Helper", stayingScript());
    BackgroundProcess process(bundleExecutable(family));
    ASSERT_TRUE(waitFor("launched com.example.family"));
    ASSERT_TRUE(waitUntil([&] { return running("com.example.family")->pids().size() == 2; }));
    EXPECT_EQ(std::ranges::count_if(workspace->runningApplications(),
                  [](const auto& application) { return application->bundleIdentifier() == "com.example.family"; }),
        1);
    EXPECT_EQ(running("com.example.family")->mainProcess().pid, process.pid());

    running("com.example.family")->terminate();
    EXPECT_EQ(process.wait(), 0);
    EXPECT_TRUE(waitFor("quit com.example.family"));
    EXPECT_EQ(std::ranges::count(seen, "launched com.example.family"), 1);
}

TEST_F(LinuxWorkspaceTest, OpenApplicationStartsTheBundleDetachedOnceAndReportsWhatIsWrong)
{
    const auto opened = bundle("opened");
    await(workspace->openApplication(opened));
    ASSERT_TRUE(waitFor("launched com.example.opened"));
    const auto application = running("com.example.opened");
    const pid_t pid = application->mainProcess().pid;
    EXPECT_NE(::getsid(pid), ::getsid(0)) << "runs in a session of its own";
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1) << "not our child";

    // Open again while it runs: brought forward, not started twice.
    await(workspace->openApplication(opened));
    spin(300ms);
    EXPECT_EQ(running("com.example.opened")->pids(), std::set<pid_t> {pid});
    application->terminate();
    EXPECT_TRUE(waitFor("quit com.example.opened"));

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
    const auto again = bundle("again");
    await(workspace->openApplication(again));
    ASSERT_TRUE(waitFor("launched com.example.again"));
    const auto first = running("com.example.again");
    const pid_t firstPid = first->mainProcess().pid;

    // A restart: quit, then open at once. Without the event loop no scan result arrives meanwhile.
    first->terminate();
    for (int poll = 0; poll < 500 && !first->isTerminated(); ++poll)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(first->isTerminated());
    ASSERT_EQ(running("com.example.again"), first) << "the latest scan still lists it";
    await(workspace->openApplication(again));
    ASSERT_TRUE(waitUntil([&] {
        const auto now = running("com.example.again");
        return now && now->mainProcess().pid != firstPid;
    }));
    running("com.example.again")->terminate();
}

TEST_F(LinuxWorkspaceTest, OpenURLsHandsEveryLinkOverAsOneArgumentNeverThroughAShell)
{
    const auto record = sandbox.root() / "arguments";
    const auto receiver = bundle("receiver", stayingScript(record));
    const std::vector<std::string> urls = {
        "claude://claude.ai/new?q=a b", "claude://x/\"quoted\"&$HOME;`id`", "claude://third/'single'"};
    workspace->openURLs(urls, receiver);
    ASSERT_TRUE(waitFor("launched com.example.receiver"));
    EXPECT_TRUE(waitUntil([&] { return recordedArguments(record) == urls; })) << readText(record);
    running("com.example.receiver")->terminate();
    // A bundle without executable: nothing happens, nothing is thrown.
    workspace->openURLs(urls, sandbox.root() / "Nowhere.app");
}

TEST_F(LinuxWorkspaceTest, BundleIdentifiersFollowChangesOfTheInfoPlist)
{
    const auto changing = bundle("before");
    EXPECT_EQ(workspace->bundleIdentifier(changing), "com.example.before");
    const auto file = changing / "Contents" / "Info.plist";
    const auto before = std::filesystem::last_write_time(file);
    InfoPlistPatcher::write({{"CFBundleIdentifier", "com.example.after"}}, file);
    std::filesystem::last_write_time(file, before + 1s); // a new time even on a coarse clock
    EXPECT_EQ(workspace->bundleIdentifier(changing), "com.example.after");
    std::filesystem::remove(file);
    EXPECT_EQ(workspace->bundleIdentifier(changing), std::nullopt);
}

TEST_F(LinuxWorkspaceTest, WithoutX11TheFrontmostApplicationIsUnknownAndActivationDoesNothing)
{
    EXPECT_EQ(X11Desktop::connect(), nullptr); // the sandbox unsets DISPLAY
    sandbox.set("DISPLAY", ":" + std::to_string(900 + ::getpid() % 90) + ".0");
    EXPECT_EQ(X11Desktop::connect(), nullptr); // no server there

    const auto quiet = bundle("quiet", sleepProgram());
    BackgroundProcess process(bundleExecutable(quiet), {.arguments = {"quiet", "1000"}});
    ASSERT_TRUE(waitFor("launched com.example.quiet"));
    EXPECT_EQ(workspace->frontmostApplication(), nullptr);
    running("com.example.quiet")->activate();
    running("com.example.quiet")->unhide();
    await(workspace->openApplication(quiet)); // running: activation, which does nothing
    EXPECT_FALSE(saw("activated com.example.quiet"));
}

TEST_F(LinuxWorkspaceTest, ApplicationsRunningAtStartAreNotLaunchesAndARestrictedWorkspaceForgetsThoseOutside)
{
    const auto outside = makeBundle(sandbox.root() / "outside", "out", "com.example.out", sleepProgram());
    BackgroundProcess outsideProcess(bundleExecutable(outside), {.arguments = {"out", "1000"}});
    ASSERT_TRUE(waitFor("launched com.example.out"));

    LinuxWorkspace fresh(nullptr, 50ms);
    std::vector<std::string> events;
    record(fresh, events);
    EXPECT_EQ(std::ranges::count_if(fresh.runningApplications(),
                  [](const auto& application) { return application->bundleIdentifier() == "com.example.out"; }),
        1);
    fresh.restrictTo(sandbox.root() / "inside" / ".." / "inside");
    EXPECT_TRUE(fresh.runningApplications().empty());
    const auto inside = makeBundle(sandbox.root() / "inside", "in", "com.example.in", sleepProgram());
    BackgroundProcess insideProcess(bundleExecutable(inside), {.arguments = {"in", "1000"}});
    ASSERT_TRUE(waitUntil([&] { return std::ranges::count(events, "launched com.example.in") == 1; }));
    outsideProcess.signal(SIGKILL);
    EXPECT_TRUE(waitFor("quit com.example.out"));
    spin(300ms);
    EXPECT_EQ(events, std::vector<std::string> {"launched com.example.in"}) << "known at start; forgotten, not quit";
}
