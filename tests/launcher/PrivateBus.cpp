#include "tests/launcher/PrivateBus.hpp"

#include "tests/support/TempDir.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace korvel::test {

namespace {

// Anyone may send and own names; no service activation, so nothing but the test answers.
std::string configFor(const std::filesystem::path& socket)
{
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>session</type>\n"
           "  <listen>unix:path=" +
        socket.string() +
        "</listen>\n"
        "  <auth>EXTERNAL</auth>\n"
        "  <policy context=\"default\">\n"
        "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
        "    <allow eavesdrop=\"true\"/>\n"
        "    <allow own=\"*\"/>\n"
        "  </policy>\n"
        "</busconfig>\n";
}

} // namespace

bool PrivateBus::available()
{
    return ::access(daemonPath, X_OK) == 0;
}

PrivateBus::PrivateBus(const std::filesystem::path& folder)
{
    const auto socket = folder / "bus";
    const auto config = folder / "bus.conf";
    writeText(config, configFor(socket));
    std::string program = daemonPath, noFork = "--nofork", configArgument = "--config-file=" + config.string();
    char* arguments[] = {program.data(), noFork.data(), configArgument.data(), nullptr};
    // Its complaints (it cannot raise its descriptor limit, say) are not the test's business.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const int error = ::posix_spawn(&m_pid, daemonPath, &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error("cannot start dbus-daemon: " + std::to_string(error));
    m_address = "unix:path=" + socket.string();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::filesystem::exists(socket)) {
        if (std::chrono::steady_clock::now() > deadline) {
            stop();
            throw std::runtime_error("dbus-daemon did not come up");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

PrivateBus::~PrivateBus()
{
    stop();
}

void PrivateBus::stop()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) { }
    m_pid = 0;
}

} // namespace korvel::test
