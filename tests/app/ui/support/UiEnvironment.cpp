// Every interface test runs on a private X desktop with a real tray: Xvfb on a free display number, openbox as the
// window manager and trayer as the system tray, so that windows, focus and the tray icon are real. The application
// object lives for the whole program.

#include "tests/support/DrawingCacheCleanup.hpp"
#include "tests/support/TempDir.hpp"

#include <QApplication>
#include <QSystemTrayIcon>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

class UiEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        int pipe[2];
        ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
        spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1280x800x24", "-nolisten", "tcp"}, pipe[1]);
        ::close(pipe[1]);
        // Xvfb writes its display number once it accepts connections.
        std::string display = ":";
        pollfd ready {pipe[0], POLLIN, 0};
        for (char c = 0; ::poll(&ready, 1, 20000) > 0 && ::read(pipe[0], &c, 1) == 1 && c != '\n';)
            display += c;
        ::close(pipe[0]);
        ASSERT_GT(display.size(), 1u) << "Xvfb did not report a display";
        // Qt wants a private runtime folder (a fresh temporary folder is 0700); the user's may not exist here.
        m_runtime = std::make_unique<korvel::test::TempDir>();
        ::setenv("XDG_RUNTIME_DIR", m_runtime->path().c_str(), 1);
        ::setenv("DISPLAY", display.c_str(), 1);
        ::unsetenv("WAYLAND_DISPLAY");
        // No session bus, and none started on demand through the X server either: Qt then speaks the X11 tray
        // protocol that trayer implements.
        ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (*m_runtime / "no-bus").string()).c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        spawn({"openbox", "--sm-disable"});
        spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "28",
            "--SetDockType", "true", "--transparent", "false", "--tint", "0x303030"});

        static int argc = 1;
        static char name[] = "korvel-ui-tests";
        static char* argv[] = {name, nullptr};
        m_application = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        // trayer claims the tray selection a moment after it starts.
        for (int tries = 0; !QSystemTrayIcon::isSystemTrayAvailable() && tries < 300; ++tries) {
            QApplication::processEvents();
            QThread::msleep(50);
        }
        ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable()) << "trayer did not provide a tray";
    }

    void TearDown() override
    {
        m_application.reset();
        for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it) {
            ::kill(*it, SIGTERM);
            while (::waitpid(*it, nullptr, 0) < 0 && errno == EINTR) { }
        }
        m_runtime.reset();
        m_caches.TearDown(); // the fonts Qt and the badges loaded
    }

private:
    // Starts `arguments` with its output discarded; `displayFd` becomes its descriptor 3.
    void spawn(std::vector<std::string> arguments, int displayFd = -1)
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (displayFd >= 0)
            posix_spawn_file_actions_adddup2(&actions, displayFd, 3);
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        const int error = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ASSERT_EQ(error, 0) << "cannot start " << arguments[0];
        m_processes.push_back(pid);
    }

    std::unique_ptr<korvel::test::TempDir> m_runtime;
    std::vector<pid_t> m_processes; // in start order
    std::unique_ptr<QApplication> m_application;
    korvel::test::DrawingCacheCleanup m_caches;
};

[[maybe_unused]] const auto* const environment = ::testing::AddGlobalTestEnvironment(new UiEnvironment);

} // namespace
