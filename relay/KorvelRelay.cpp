// KorvelRelay: sits between one profile app's Claude and the Wayland compositor, so that Claude's windows carry the
// profile's app id and Korvel learns when one of them is the active window. The launcher starts it detached with a
// listening socket already bound (Claude may connect before this program has run at all).
//
//     KorvelRelay --listen-fd N --compositor PATH --app-id ID [--watch-pid PID] [--folder DIR] [--report PATH]
//
// --folder names the private folder holding the listening socket, removed at the end; --report a Unix socket that
// receives a line "active ID" or "inactive ID" whenever that changes, when someone listens there.

#include "relay/RelayServer.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace korvel::relay;

namespace {

void log(const std::string& text)
{
    std::fprintf(stderr, "KorvelRelay: %s\n", text.c_str());
}

void report(const std::string& path, const std::string& appId, bool activated)
{
    if (path.empty())
        return;
    const int fd = connectTo(path);
    if (fd < 0)
        return; // Korvel is not running: nobody to tell
    const std::string line = (activated ? "active " : "inactive ") + appId + "\n";
    [[maybe_unused]] const ssize_t written = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::close(fd);
}

std::optional<long> number(const std::string& text)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || errno || value < 0)
        return std::nullopt;
    return value;
}

} // namespace

int main(int argc, char* argv[])
{
    std::map<std::string, std::string> options;
    for (int index = 1; index + 1 < argc; index += 2)
        options[argv[index]] = argv[index + 1];
    const auto listener = number(options["--listen-fd"]);
    if (!listener || options["--compositor"].empty() || options["--app-id"].empty()) {
        log("usage: KorvelRelay --listen-fd N --compositor PATH --app-id ID [--watch-pid PID] [--folder DIR] "
            "[--report PATH]");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    int watched = -1;
    if (const auto pid = number(options["--watch-pid"]))
        watched = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(*pid), 0));

    const std::string reportPath = options["--report"];
    const std::string appId = options["--app-id"];
    RelayServer server(RelayServer::Options {static_cast<int>(*listener), options["--compositor"], appId, watched,
        [&](bool activated) { report(reportPath, appId, activated); }, log});
    server.run();
    if (const std::string folder = options["--folder"]; !folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    return 0;
}
