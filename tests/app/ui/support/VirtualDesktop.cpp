#include "tests/app/ui/support/VirtualDesktop.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace korvel::test {
namespace {

// Reads the display number Xvfb writes once it accepts connections.
std::string readDisplayNumber(int fd)
{
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd wait {fd, POLLIN, 0};
        if (::poll(&wait, 1, 200) <= 0)
            continue;
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n <= 0 || c == '\n')
            break;
        number += c;
    }
    if (number.empty())
        throw std::runtime_error("Xvfb did not report a display");
    return number;
}

} // namespace

VirtualDesktop::VirtualDesktop()
{
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("no pipe for Xvfb");
    spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1280x800x24", "-nolisten", "tcp"}, pipe[1]);
    ::close(pipe[1]);
    m_display = ":" + readDisplayNumber(pipe[0]);
    ::close(pipe[0]);
    // Qt wants a private runtime folder; the user's may not exist on a build machine.
    m_runtime = std::filesystem::temp_directory_path() / ("korvel-ui-runtime-" + std::to_string(::getpid()));
    std::filesystem::create_directories(m_runtime);
    std::filesystem::permissions(m_runtime, std::filesystem::perms::owner_all);
    ::setenv("XDG_RUNTIME_DIR", m_runtime.c_str(), 1);
    ::setenv("DISPLAY", m_display.c_str(), 1);
    ::unsetenv("WAYLAND_DISPLAY");
    // No session bus, and none started on demand through the X server either: Qt then speaks the X11 tray
    // protocol that trayer implements.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (m_runtime / "no-bus").string()).c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    spawn({"openbox", "--sm-disable"});
    spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "28", "--SetDockType",
        "true", "--transparent", "false", "--tint", "0x303030"});
}

VirtualDesktop::~VirtualDesktop()
{
    for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it) {
        ::kill(*it, SIGTERM);
        int status = 0;
        while (::waitpid(*it, &status, 0) < 0 && errno == EINTR) { }
    }
    std::error_code error;
    std::filesystem::remove_all(m_runtime, error);
}

pid_t VirtualDesktop::spawn(const std::vector<std::string>& arguments, int displayFd)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (displayFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, displayFd, 3);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int error = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error("cannot start " + arguments[0]);
    m_processes.push_back(pid);
    return pid;
}

} // namespace korvel::test
