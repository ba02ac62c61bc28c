#include "app/platform/linux/LinuxWorkspace.hpp"
#include "app/platform/linux/X11Desktop.hpp"
#include "core/building/InfoPlistPatcher.hpp"
#include "core/support/FileError.hpp"
#include "tests/app/platform/linux/Sandbox.hpp"
#include "tests/app/platform/linux/TestBundle.hpp"
#include "tests/app/support/Await.hpp"
#include "tests/support/BackgroundProcess.hpp"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace korvel;
using namespace korvel::test;
using namespace std::chrono_literals;

namespace {

struct Seen
{
    Workspace::Event event;
    std::optional<std::string> identifier;
};

class LinuxWorkspaceTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "WorkspaceTest";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
    }

    void SetUp() override
    {
        workspace = std::make_unique<LinuxWorkspace>(nullptr, 50ms);
        for (const auto event : {Workspace::Event::DidLaunchApplication, Workspace::Event::DidTerminateApplication,
                 Workspace::Event::DidActivateApplication})
            workspace->observe(event, [this, event](const std::shared_ptr<RunningApplication>& application) {
                seen.push_back({event, application ? application->bundleIdentifier() : std::nullopt});
            });
    }

    bool sawEvent(Workspace::Event event, const std::string& identifier) const
    {
        for (const auto& item : seen)
            if (item.event == event && item.identifier == identifier)
                return true;
        return false;
    }

    bool waitForEvent(Workspace::Event event, const std::string& identifier)
    {
        return waitUntil([&] { return sawEvent(event, identifier); });
    }

    std::shared_ptr<LinuxRunningApplication> running(const std::string& identifier) const
    {
        for (const auto& application : workspace->runningApplications())
            if (application->bundleIdentifier() == identifier)
                return std::static_pointer_cast<LinuxRunningApplication>(application);
        return nullptr;
    }

    Sandbox sandbox;
    std::unique_ptr<LinuxWorkspace> workspace;
    std::vector<Seen> seen;
};

std::filesystem::path sleepProgram()
{
    return std::filesystem::exists("/usr/bin/sleep") ? "/usr/bin/sleep" : "/bin/sleep";
}

// Field `number` (1-based) of /proc/PID/stat.
std::string statField(pid_t pid, int number)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    for (int index = 3; index <= number && fields >> field; ++index) { }
    return field;
}

std::vector<std::string> recordedArguments(const std::filesystem::path& file)
{
    std::vector<std::string> arguments;
    std::string text = readText(file);
    for (size_t end; (end = text.find('\0')) != std::string::npos; text.erase(0, end + 1))
        arguments.push_back(text.substr(0, end));
    return arguments;
}

} // namespace

TEST_F(LinuxWorkspaceTest, ProgramsAndScriptsRunningFromBundlesAreApplicationsWithTheirIdentifiers)
{
    const auto program = TestBundle::withProgram(
        sandbox.root(), "Claude Work", "com.veldrane.Korvel.profile.one", "Claude", sleepProgram());
    const auto script = TestBundle::withScript(
        sandbox.root(), "Scripted", "com.example.scripted", "Scripted", TestBundle::stayingScript());
    const auto stray = TestBundle::withScript(
        sandbox.root() / "not-a-bundle", "Stray", "com.example.stray", "Stray", TestBundle::stayingScript());
    std::filesystem::rename(stray / "Contents" / "MacOS", sandbox.root() / "loose");

    BackgroundProcess programProcess(TestBundle::executable(program), {.arguments = {"Claude", "1000"}});
    BackgroundProcess scriptProcess(TestBundle::executable(script));
    BackgroundProcess looseProcess(sandbox.root() / "loose" / "Stray");
    BackgroundProcess plain(sleepProgram(), {.arguments = {"sleep", "1000"}});

    ASSERT_TRUE(waitForEvent(Workspace::Event::DidLaunchApplication, "com.veldrane.Korvel.profile.one"));
    ASSERT_TRUE(waitForEvent(Workspace::Event::DidLaunchApplication, "com.example.scripted"));

    const auto programApp = running("com.veldrane.Korvel.profile.one");
    const auto scriptApp = running("com.example.scripted");
    ASSERT_TRUE(programApp && scriptApp);
    EXPECT_EQ(programApp->bundle(), std::filesystem::canonical(program));
    EXPECT_EQ(programApp->mainProcess().pid, programProcess.pid());
    EXPECT_EQ(scriptApp->bundle(), std::filesystem::canonical(script));
    EXPECT_EQ(scriptApp->mainProcess().pid, scriptProcess.pid());
    EXPECT_FALSE(programApp->isTerminated());
    for (const auto& application : workspace->runningApplications()) {
        const auto& bundled = static_cast<const LinuxRunningApplication&>(*application);
        EXPECT_FALSE(bundled.owns(looseProcess.pid()));
        EXPECT_FALSE(bundled.owns(plain.pid()));
    }
    EXPECT_EQ(workspace->bundleIdentifier(script), "com.example.scripted");

    // terminate() asks the main process to quit; the script's trap ends it with status 0.
    scriptApp->terminate();
    EXPECT_EQ(scriptProcess.wait(), 0);
    EXPECT_TRUE(scriptApp->isTerminated());
    EXPECT_TRUE(waitForEvent(Workspace::Event::DidTerminateApplication, "com.example.scripted"));

    programProcess.signal(SIGKILL);
    programProcess.wait();
    EXPECT_TRUE(waitForEvent(Workspace::Event::DidTerminateApplication, "com.veldrane.Korvel.profile.one"));
    EXPECT_TRUE(programApp->isTerminated());
    EXPECT_EQ(running("com.veldrane.Korvel.profile.one"), nullptr);
    EXPECT_FALSE(sawEvent(Workspace::Event::DidLaunchApplication, "com.example.stray"));
}

TEST_F(LinuxWorkspaceTest, ScriptsStartedWithRelativePathsAndProcessesThatExecIntoABundleAreFound)
{
    const auto script = TestBundle::withScript(
        sandbox.root(), "Relative", "com.example.relative", "Relative", TestBundle::stayingScript());
    BackgroundProcess relative(
        "/bin/sh", {.arguments = {"sh", "./Relative"}, .workingDirectory = script / "Contents" / "MacOS"});
    ASSERT_TRUE(waitForEvent(Workspace::Event::DidLaunchApplication, "com.example.relative"));
    EXPECT_EQ(running("com.example.relative")->bundle(), std::filesystem::canonical(script));

    // The same process first runs the shell, then becomes the bundle's program: the scan must notice the exec.
    const auto program = TestBundle::withProgram(sandbox.root(), "Later", "com.example.later", "Later", sleepProgram());
    const std::filesystem::path go = sandbox.root() / "go";
    const std::string command = "while [ ! -e '" + go.string() + "' ]; do sleep 0.05; done; exec '" +
        TestBundle::executable(program).string() + "' 1000";
    BackgroundProcess later("/bin/sh", {.arguments = {"sh", "-c", command}});
    spin(300ms); // several scans see the shell
    EXPECT_FALSE(sawEvent(Workspace::Event::DidLaunchApplication, "com.example.later"));
    writeText(go, "");
    ASSERT_TRUE(waitForEvent(Workspace::Event::DidLaunchApplication, "com.example.later"));
    EXPECT_EQ(running("com.example.later")->mainProcess().pid, later.pid());
}

TEST_F(LinuxWorkspaceTest, OneApplicationPerBundleWithTheOldestProcessAsMain)
{
    // The main script starts a helper from the same bundle, as Chromium-style apps do.
    const auto bundle = TestBundle::withScript(sandbox.root(), "Family", "com.example.family", "Family",
        "#!/bin/sh\n"
        "\"$(dirname \"$0\")/Helper\" </dev/null >/dev/null 2>&1 &\n"
        "helper=$!\n"
        "trap 'kill $helper $child 2>/dev/null; exit 0' TERM\n"
        "sleep 1000 </dev/null >/dev/null 2>&1 & child=$!\n"
        "wait $child\n");
    writeText(bundle / "Contents" / "MacOS" / "Helper", TestBundle::stayingScript());
    std::filesystem::permissions(bundle / "Contents" / "MacOS" / "Helper", std::filesystem::perms(0755));

    BackgroundProcess family(TestBundle::executable(bundle));
    ASSERT_TRUE(waitForEvent(Workspace::Event::DidLaunchApplication, "com.example.family"));
    ASSERT_TRUE(waitUntil([&] { return running("com.example.family")->pids().size() == 2; }));
    int count = 0;
    for (const auto& application : workspace->runningApplications())
        count += application->bundleIdentifier() == "com.example.family";
    EXPECT_EQ(count, 1);
    const auto application = running("com.example.family");
    EXPECT_EQ(application->mainProcess().pid, family.pid());

    application->terminate();
    EXPECT_EQ(family.wait(), 0);
    EXPECT_TRUE(waitForEvent(Workspace::Event::DidTerminateApplication, "com.example.family"));
    int launches = 0;
    for (const auto& item : seen)
        launches += item.event == Workspace::Event::DidLaunchApplication && item.identifier == "com.example.family";
    EXPECT_EQ(launches, 1);
}

TEST_F(LinuxWorkspaceTest, OpenApplicationStartsTheBundleDetachedOnceAndReportsWhatIsWrong)
{
    const auto bundle =
        TestBundle::withScript(sandbox.root(), "Opened", "com.example.opened", "Opened", TestBundle::stayingScript());
    await(workspace->openApplication(bundle));
    ASSERT_TRUE(waitForEvent(Workspace::Event::DidLaunchApplication, "com.example.opened"));
    const auto application = running("com.example.opened");
    const pid_t pid = application->mainProcess().pid;
    EXPECT_NE(statField(pid, 6), std::to_string(::getsid(0))) << "runs in a session of its own";
    EXPECT_NE(statField(pid, 4), std::to_string(::getpid())) << "not our child";

    // Open again while it runs: brought forward, not started twice.
    await(workspace->openApplication(bundle));
    spin(300ms);
    EXPECT_EQ(running("com.example.opened")->pids(), std::set<pid_t> {pid});

    application->terminate();
    EXPECT_TRUE(waitUntil([&] { return application->isTerminated(); }));
    EXPECT_TRUE(waitForEvent(Workspace::Event::DidTerminateApplication, "com.example.opened"));

    const auto expectFileError = [&](const std::filesystem::path& target, FileError::Kind kind) {
        try {
            await(workspace->openApplication(target));
            ADD_FAILURE() << "opened " << target;
        } catch (const FileError& error) {
            EXPECT_EQ(error.kind(), kind) << error.what();
        }
    };
    const auto missing = TestBundle::withScript(sandbox.root(), "Missing", "com.example.missing", "Missing", "");
    std::filesystem::remove(TestBundle::executable(missing));
    expectFileError(missing, FileError::Kind::ReadNoSuchFile);

    const auto notExecutable = TestBundle::withScript(sandbox.root(), "Plain", "com.example.plain", "Plain", "");
    std::filesystem::permissions(TestBundle::executable(notExecutable), std::filesystem::perms(0644));
    expectFileError(notExecutable, FileError::Kind::ReadUnknown);

    const auto unnamed = TestBundle::withScript(sandbox.root(), "Unnamed", "com.example.unnamed", "Unnamed", "");
    InfoPlistPatcher::write({{"CFBundleIdentifier", "com.example.unnamed"}}, unnamed / "Contents" / "Info.plist");
    expectFileError(unnamed, FileError::Kind::ReadCorrupt);
    expectFileError(sandbox.root() / "Nowhere.app", FileError::Kind::ReadNoSuchFile);
}

TEST_F(LinuxWorkspaceTest, AnApplicationThatHasJustQuitIsStartedAnewBeforeTheNextScanNotices)
{
    const auto bundle =
        TestBundle::withScript(sandbox.root(), "Again", "com.example.again", "Again", TestBundle::stayingScript());
    await(workspace->openApplication(bundle));
    ASSERT_TRUE(waitForEvent(Workspace::Event::DidLaunchApplication, "com.example.again"));
    const auto first = running("com.example.again");
    const pid_t firstPid = first->mainProcess().pid;

    // A restart: quit, then open at once. Without the event loop no scan result arrives meanwhile.
    first->terminate();
    for (int poll = 0; poll < 500 && !first->isTerminated(); ++poll)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(first->isTerminated());
    ASSERT_EQ(running("com.example.again"), first) << "the latest scan still lists it";
    await(workspace->openApplication(bundle));
    ASSERT_TRUE(waitUntil([&] {
        const auto now = running("com.example.again");
        return now && now->mainProcess().pid != firstPid;
    }));
    running("com.example.again")->terminate();
}

TEST_F(LinuxWorkspaceTest, OpenURLsHandsEveryLinkOverAsOneArgumentNeverThroughAShell)
{
    const std::filesystem::path record = sandbox.root() / "arguments";
    const auto bundle = TestBundle::withScript(
        sandbox.root(), "Receiver", "com.example.receiver", "Receiver", TestBundle::stayingScript(record));
    const std::vector<std::string> urls = {
        "claude://claude.ai/new?q=a b", "claude://x/\"quoted\"&$HOME;`id`", "claude://third/'single'"};
    workspace->openURLs(urls, bundle);
    ASSERT_TRUE(waitForEvent(Workspace::Event::DidLaunchApplication, "com.example.receiver"));
    ASSERT_TRUE(waitUntil([&] { return recordedArguments(record).size() == urls.size(); }));
    EXPECT_EQ(recordedArguments(record), urls);
    running("com.example.receiver")->terminate();

    // A bundle without executable: nothing happens, nothing is thrown.
    workspace->openURLs(urls, sandbox.root() / "Nowhere.app");
}

TEST_F(LinuxWorkspaceTest, BundleIdentifiersFollowChangesOfTheInfoPlist)
{
    const auto bundle = TestBundle::withScript(sandbox.root(), "Changing", "com.example.before", "Changing", "");
    EXPECT_EQ(workspace->bundleIdentifier(bundle), "com.example.before");
    const auto file = bundle / "Contents" / "Info.plist";
    const auto before = std::filesystem::last_write_time(file);
    InfoPlistPatcher::write({{"CFBundleIdentifier", "com.example.after"}}, file);
    std::filesystem::last_write_time(file, before + 1s); // a new time even on a coarse clock
    EXPECT_EQ(workspace->bundleIdentifier(bundle), "com.example.after");
    std::filesystem::remove(file);
    EXPECT_EQ(workspace->bundleIdentifier(bundle), std::nullopt);
    EXPECT_EQ(workspace->bundleIdentifier(sandbox.root() / "Nowhere.app"), std::nullopt);
}

TEST_F(LinuxWorkspaceTest, WithoutX11TheFrontmostApplicationIsUnknownAndActivationDoesNothing)
{
    EXPECT_EQ(X11Desktop::connect(), nullptr); // the sandbox unsets DISPLAY
    sandbox.set("DISPLAY", ":" + std::to_string(900 + ::getpid() % 90) + ".0");
    EXPECT_EQ(X11Desktop::connect(), nullptr); // no server there

    const auto bundle = TestBundle::withProgram(sandbox.root(), "Quiet", "com.example.quiet", "Quiet", sleepProgram());
    BackgroundProcess process(TestBundle::executable(bundle), {.arguments = {"Quiet", "1000"}});
    ASSERT_TRUE(waitForEvent(Workspace::Event::DidLaunchApplication, "com.example.quiet"));
    EXPECT_EQ(workspace->frontmostApplication(), nullptr);
    running("com.example.quiet")->activate();
    running("com.example.quiet")->unhide();
    await(workspace->openApplication(bundle)); // running: activation, which does nothing
    EXPECT_FALSE(sawEvent(Workspace::Event::DidActivateApplication, "com.example.quiet"));
}

TEST_F(LinuxWorkspaceTest, ARestrictedWorkspaceSeesOnlyBundlesInsideItsFolder)
{
    const auto inside =
        TestBundle::withProgram(sandbox.root() / "inside", "In", "com.example.in", "In", sleepProgram());
    const auto outside =
        TestBundle::withProgram(sandbox.root() / "outside", "Out", "com.example.out", "Out", sleepProgram());
    BackgroundProcess outsideProcess(TestBundle::executable(outside), {.arguments = {"Out", "1000"}});
    ASSERT_TRUE(waitForEvent(Workspace::Event::DidLaunchApplication, "com.example.out"));

    workspace->restrictTo(sandbox.root() / "inside" / ".." / "inside");
    EXPECT_EQ(running("com.example.out"), nullptr);
    BackgroundProcess insideProcess(TestBundle::executable(inside), {.arguments = {"In", "1000"}});
    ASSERT_TRUE(waitForEvent(Workspace::Event::DidLaunchApplication, "com.example.in"));
    outsideProcess.signal(SIGKILL);
    outsideProcess.wait();
    spin(300ms);
    EXPECT_FALSE(sawEvent(Workspace::Event::DidTerminateApplication, "com.example.out")) << "forgotten, not quit";
}

TEST_F(LinuxWorkspaceTest, ApplicationsRunningAtStartAreKnownAtOnceAndNotReportedAsLaunched)
{
    const auto bundle = TestBundle::withProgram(sandbox.root(), "Early", "com.example.early", "Early", sleepProgram());
    BackgroundProcess early(TestBundle::executable(bundle), {.arguments = {"Early", "1000"}});
    ASSERT_TRUE(waitForEvent(Workspace::Event::DidLaunchApplication, "com.example.early"));

    LinuxWorkspace fresh(nullptr, 50ms);
    int launches = 0;
    fresh.observe(Workspace::Event::DidLaunchApplication, [&](const std::shared_ptr<RunningApplication>& launched) {
        launches += launched && launched->bundleIdentifier() == "com.example.early"; // other tests start apps too
    });
    bool known = false;
    for (const auto& application : fresh.runningApplications())
        known = known || application->bundleIdentifier() == "com.example.early";
    EXPECT_TRUE(known);
    spin(300ms);
    EXPECT_EQ(launches, 0);
}
