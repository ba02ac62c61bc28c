#include "app/platform/linux/LinuxOwnApplication.hpp"
#include "app/platform/linux/LinuxWorkspace.hpp"
#include "app/platform/linux/X11Desktop.hpp"
#include "tests/app/platform/linux/PlatformTest.hpp"

#include <QGuiApplication>
#include <QWindow>

using namespace korvel;
using namespace korvel::test;
using namespace std::chrono_literals;

namespace {

// A headless X server (Xvfb, on a display number it picks itself) with a real EWMH window manager (openbox),
// both with the sandbox's home.
struct XServer
{
    // -displayfd: Xvfb writes the display number to our pipe once it accepts clients.
    BackgroundProcess server {
        "/usr/bin/Xvfb", {{"Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"}}};
    std::string display = ":" + server.waitForLine([](const std::string& line) { return !line.empty(); }).value();
    // openbox runs its startup command once it manages windows; a window mapped before may stay unmanaged.
    BackgroundProcess windowManager {"/usr/bin/openbox",
        {.arguments = {"openbox", "--sm-disable", "--config-file", "/etc/xdg/openbox/rc.xml", "--startup",
             "echo ready"},
            .environment = {{"DISPLAY", display}, {"XDG_DATA_DIRS", "/usr/share"}}}}; // its themes
    bool ready = windowManager.waitForLine("ready").has_value();
};

// One sandbox, X server, window manager and Qt GUI application (on that display, through the xcb platform) for
// the whole suite: starting them takes a while, and Qt allows one application object per process.
class LinuxWorkspaceX11Test : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (::access("/usr/bin/Xvfb", X_OK) != 0 || ::access("/usr/bin/openbox", X_OK) != 0)
            return;
        suiteSandbox = new Sandbox;
        server = new XServer;
        ASSERT_TRUE(server->ready) << "openbox did not start";
        suiteSandbox->set("DISPLAY", server->display);
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
    }

    void SetUp() override
    {
        if (!server)
            GTEST_SKIP() << "Xvfb or openbox is not installed";
        desktop = X11Desktop::connect();
        ASSERT_NE(desktop, nullptr);
        workspace = std::make_unique<LinuxWorkspace>(desktop, 100ms);
        workspace->observe(Workspace::Event::DidActivateApplication, [this](const auto& application) {
            activations.push_back(application ? application->bundleIdentifier().value_or("") : "");
        });
    }

    // Starts the test window program from a bundle. A window that is not iconic gets the focus, as openbox
    // gives it to new windows, and Korvel must notice: tests move the focus only after that.
    void startWindow(const std::string& name, bool iconic = false)
    {
        const auto bundle = makeBundle(suiteSandbox->root(), name, "com.example." + name, readText(KORVEL_TEST_WINDOW));
        windows.push_back(std::make_unique<BackgroundProcess>(
            bundleExecutable(bundle), BackgroundProcess::Options {{name, iconic ? "iconic" : "normal"}}));
        EXPECT_TRUE(windows.back()->waitForLine("window ")) << windows.back()->wait(1s).value_or(-1);
        EXPECT_TRUE(waitUntil([&] { return running(name) && (iconic || inFront(name)); })) << name;
    }

    std::shared_ptr<RunningApplication> running(const std::string& name) const
    {
        for (const auto& application : workspace->runningApplications())
            if (application->bundleIdentifier() == "com.example." + name)
                return application;
        return nullptr;
    }

    bool inFront(const std::string& name) const
    {
        const auto front = workspace->frontmostApplication();
        return front && front->bundleIdentifier() == "com.example." + name && !activations.empty() &&
            activations.back() == "com.example." + name;
    }

    static inline Sandbox* suiteSandbox = nullptr;
    static inline XServer* server = nullptr;
    static inline QGuiApplication* application = nullptr;

    std::vector<std::unique_ptr<BackgroundProcess>> windows;
    std::shared_ptr<X11Desktop> desktop;
    std::unique_ptr<LinuxWorkspace> workspace;
    std::vector<std::string> activations;
};

} // namespace

TEST_F(LinuxWorkspaceX11Test, ActivatingOrUnhidingAnApplicationBringsItsWindowToTheFrontAndReportsIt)
{
    startWindow("alpha");
    startWindow("beta");
    running("alpha")->activate();
    ASSERT_TRUE(waitUntil([&] { return inFront("alpha"); }));
    running("beta")->activate();
    ASSERT_TRUE(waitUntil([&] { return inFront("beta"); }));
    const size_t before = activations.size();
    running("beta")->activate(); // already in front: no new event
    spin(300ms);
    EXPECT_EQ(activations.size(), before);

    // Minimised windows can take no focus until shown again; once managed, unhiding shows one.
    startWindow("gamma", true);
    EXPECT_TRUE(waitUntil([&] {
        running("gamma")->unhide();
        return inFront("gamma");
    }));
}

TEST_F(LinuxWorkspaceX11Test, KorvelBecomesActiveWhenOneOfItsWindowsGetsTheFocus)
{
    LinuxOwnApplication own;
    int becameActive = 0;
    own.observeDidBecomeActive([&] { ++becameActive; });
    startWindow("delta");
    ASSERT_TRUE(waitUntil([] { return QGuiApplication::applicationState() != Qt::ApplicationActive; }));
    const int before = becameActive;

    QWindow window;
    window.resize(200, 100);
    window.show();
    ASSERT_TRUE(waitUntil([&] { return desktop->activate({::getpid()}); }));
    EXPECT_TRUE(waitUntil([&] { return becameActive > before; }));
    // Korvel is not a bundle application here: once the window manager follows, the frontmost application is
    // none we know.
    EXPECT_TRUE(waitUntil([&] { return workspace->frontmostApplication() == nullptr; }));
}
