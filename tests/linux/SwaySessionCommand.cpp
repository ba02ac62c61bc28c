// Runs a command in a private headless sway session (tests/support/SwaySession) and ends the session afterwards:
//
//     sway-session [--tray] <command> [arguments…]
//
// The command gets WAYLAND_DISPLAY, DISPLAY (XWayland), SWAYSOCK, XDG_SESSION_TYPE and, with --tray, the session
// bus swaybar's tray watches. Exit status: the command's; 77 when sway is not installed (a skip for ctest).
#include "tests/support/SwaySession.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

volatile sig_atomic_t command = 0;

void forward(int number)
{
    if (command > 0)
        ::kill(command, number);
}

int statusOf(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

int main(int argc, char** argv)
{
    int first = 1;
    const bool tray = argc > 1 && std::string_view(argv[1]) == "--tray";
    first += tray ? 1 : 0;
    if (first >= argc) {
        std::fputs("usage: sway-session [--tray] <command> [arguments…]\n", stderr);
        return 2;
    }
    if (const auto reason = korvel::test::SwaySession::unavailable()) {
        std::fprintf(stderr, "sway-session: skipped: %s\n", reason->c_str());
        return 77;
    }
    korvel::test::SwaySession sway({.tray = tray});
    for (const auto& [name, value] : sway.environment())
        ::setenv(name.c_str(), value->c_str(), 1);
    // The command ends with this program when ctest or a user stops it, before the session goes.
    struct sigaction action
    { };
    action.sa_handler = forward;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::execvp(argv[first], argv + first);
        std::fprintf(stderr, "sway-session: cannot run %s: %s\n", argv[first], std::strerror(errno));
        ::_exit(127);
    }
    command = child;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return 1;
    return statusOf(status);
}
