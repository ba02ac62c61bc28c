#include "app/platform/linux/LinuxOwnApplication.hpp"
#include "app/platform/linux/LinuxWorkspace.hpp"
#include "app/platform/linux/X11Desktop.hpp"
#include "tests/app/platform/linux/Sandbox.hpp"
#include "tests/app/platform/linux/TestBundle.hpp"
#include "tests/app/platform/linux/XServer.hpp"
#include "tests/app/support/Await.hpp"
#include "tests/support/BackgroundProcess.hpp"

#include <QGuiApplication>
#include <QWindow>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace korvel;
using namespace korvel::test;
using namespace std::chrono_literals;

namespace {

// One X server, window manager and Qt GUI application (on that display, through the xcb platform) for the
// whole suite: starting them takes a while, and Qt allows one application object per process.
class LinuxWorkspaceX11Test : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (!XServer::available())
            return;
        suiteSandbox = new Sandbox;
        server = new XServer;
        suiteSandbox->set("DISPLAY", server->display());
        suiteSandbox->set("QT_QPA_PLATFORM", "xcb");
        static int argc = 1;
        static char name[] = "LinuxWorkspaceX11Test";
        static char* argv[] = {name, nullptr};
        application = new QGuiApplication(argc, argv);
    }

    static void TearDownTestSuite()
    {
        delete application;
        delete server;
        delete suiteSandbox;
        application = nullptr;
        server = nullptr;
        suiteSandbox = nullptr;
    }

    void SetUp() override
    {
        if (!server)
            GTEST_SKIP() << "Xvfb or openbox is not installed";
        sandbox.set("DISPLAY", server->display());
        desktop = X11Desktop::connect();
        ASSERT_NE(desktop, nullptr);
        workspace = std::make_unique<LinuxWorkspace>(desktop, 100ms);
        workspace->observe(Workspace::Event::DidActivateApplication, [this](const auto& application) {
            activations.push_back(application ? application->bundleIdentifier() : std::nullopt);
        });
    }

    // Starts a copy of the test window program inside a bundle and waits until the window manager manages it.
    std::unique_ptr<BackgroundProcess> startWindow(const std::string& name, const std::string& identifier)
    {
        const auto bundle = TestBundle::withProgram(sandbox.root(), name, identifier, name, KORVEL_TEST_WINDOW);
        auto process = std::make_unique<BackgroundProcess>(TestBundle::executable(bundle),
            BackgroundProcess::Options {.arguments = {name, name}, .environment = {{"DISPLAY", server->display()}}});
        const auto announced = process->waitForLine("window ");
        const pid_t pid = process->pid();
        EXPECT_TRUE(announced) << name << " exited with " << process->wait(1s).value_or(-1);
        EXPECT_TRUE(waitUntil([&] { return server->windowsOf({pid}).size() == 1; }));
        // openbox gives a new window the focus: let that happen before a test moves the focus itself.
        EXPECT_TRUE(waitUntil([&] {
            const auto windows = server->windowsOf({pid});
            return !windows.empty() && server->activeWindow() == windows.front();
        }));
        return process;
    }

    std::shared_ptr<RunningApplication> running(const std::string& identifier) const
    {
        for (const auto& application : workspace->runningApplications())
            if (application->bundleIdentifier() == identifier)
                return application;
        return nullptr;
    }

    bool frontmostIs(const std::string& identifier) const
    {
        const auto front = workspace->frontmostApplication();
        return front && front->bundleIdentifier() == identifier;
    }

    static inline Sandbox* suiteSandbox = nullptr;
    static inline XServer* server = nullptr;
    static inline QGuiApplication* application = nullptr;

    Sandbox sandbox;
    std::shared_ptr<X11Desktop> desktop;
    std::unique_ptr<LinuxWorkspace> workspace;
    std::vector<std::optional<std::string>> activations;
};

} // namespace

TEST_F(LinuxWorkspaceX11Test, ActivatingAnApplicationBringsItsWindowToTheFrontAndReportsIt)
{
    const auto alphaProcess = startWindow("Alpha", "com.example.alpha");
    const auto betaProcess = startWindow("Beta", "com.example.beta");
    ASSERT_TRUE(waitUntil([&] { return running("com.example.alpha") && running("com.example.beta"); }));

    running("com.example.alpha")->activate();
    ASSERT_TRUE(waitUntil([&] { return frontmostIs("com.example.alpha"); }));
    EXPECT_EQ(server->activeWindow(), server->windowsOf({alphaProcess->pid()}).at(0));
    ASSERT_TRUE(waitUntil([&] { return !activations.empty() && activations.back() == "com.example.alpha"; }));

    running("com.example.beta")->activate();
    ASSERT_TRUE(waitUntil([&] { return frontmostIs("com.example.beta"); }));
    ASSERT_TRUE(waitUntil([&] { return activations.back() == "com.example.beta"; }));

    // Focus moving by other means (the user, the window manager) is reported too.
    running("com.example.alpha")->activate();
    ASSERT_TRUE(waitUntil([&] { return activations.back() == "com.example.alpha"; }));
    const size_t before = activations.size();
    running("com.example.alpha")->activate(); // already in front: no new event
    spin(300ms);
    EXPECT_EQ(activations.size(), before);
}

TEST_F(LinuxWorkspaceX11Test, UnhideShowsAMinimisedWindowAgain)
{
    const auto process = startWindow("Gamma", "com.example.gamma");
    ASSERT_TRUE(waitUntil([&] { return running("com.example.gamma") != nullptr; }));
    ASSERT_EQ(server->windowsOf({process->pid()}).size(), 1U);
    const xcb_window_t window = server->windowsOf({process->pid()}).front();
    server->minimise(window);
    ASSERT_TRUE(waitUntil([&] { return server->isHidden(window); }));

    running("com.example.gamma")->unhide();
    EXPECT_TRUE(waitUntil([&] { return !server->isHidden(window); }));
    EXPECT_TRUE(waitUntil([&] { return frontmostIs("com.example.gamma"); }));
}

TEST_F(LinuxWorkspaceX11Test, KorvelBecomesActiveWhenOneOfItsWindowsGetsTheFocus)
{
    LinuxOwnApplication own;
    int becameActive = 0;
    own.observeDidBecomeActive([&] { ++becameActive; });

    const auto other = startWindow("Delta", "com.example.delta");
    ASSERT_TRUE(waitUntil([&] { return running("com.example.delta") != nullptr; }));
    running("com.example.delta")->activate();
    ASSERT_TRUE(waitUntil([&] { return frontmostIs("com.example.delta"); }));
    ASSERT_TRUE(waitUntil([] { return QGuiApplication::applicationState() != Qt::ApplicationActive; }));
    const int before = becameActive;

    QWindow window;
    window.resize(200, 100);
    window.show();
    ASSERT_TRUE(waitUntil([&] { return !server->windowsOf({::getpid()}).empty(); }));
    desktop->activate({::getpid()});
    EXPECT_TRUE(waitUntil([&] { return becameActive > before; }));
    // Korvel is not a bundle application here: once the window manager follows, the frontmost application is
    // none we know.
    EXPECT_TRUE(waitUntil([&] { return workspace->frontmostApplication() == nullptr; }));
}
