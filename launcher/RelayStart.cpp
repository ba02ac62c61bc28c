#include "launcher/RelayStart.hpp"

#include "core/model/TaskBarIdentity.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace korvel::launcher::RelayStart {

namespace {

constexpr const char* socketName = "wayland-0";

// A listening socket at `path`, inheritable by the relay; -1 when that fails.
int listenAt(const std::string& path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 128) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Runs `arguments[0]` in a grandchild in its own session, so that Claude, which this process becomes, neither waits
// for it nor gets it as a child. True when the grandchild was made; whether its program runs shows in the relay
// itself (a relay that cannot start leaves a socket nobody accepts on, so the exec is checked first).
bool spawnDetached(std::vector<std::string>& arguments, int keptOpen)
{
    if (::access(arguments[0].c_str(), X_OK) != 0)
        return false;
    std::vector<char*> vector;
    for (auto& argument : arguments)
        vector.push_back(argument.data());
    vector.push_back(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        ::setsid();
        if (::fork() != 0)
            ::_exit(0);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        for (int fd = 3; fd < 1024; ++fd)
            if (fd != keptOpen)
                ::close(fd);
        ::execv(vector[0], vector.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

std::optional<std::string> compositorPath(const char* display, const char* runtimeDir)
{
    if (!display || !*display)
        return std::nullopt;
    if (*display == '/')
        return std::string(display);
    if (!runtimeDir || *runtimeDir != '/')
        return std::nullopt;
    return std::string(runtimeDir) + "/" + display;
}

std::optional<std::string> start(
    const std::string& relay, const std::string& runtimeDir, const std::string& compositor, const std::string& appId)
{
    std::string folder = runtimeDir + "/korvel-relay-XXXXXX";
    if (!::mkdtemp(folder.data())) // 0700
        return std::nullopt;
    const std::string socket = folder + "/" + socketName;
    const int listener = listenAt(socket);
    std::vector<std::string> arguments {relay, "--listen-fd", std::to_string(listener), "--compositor", compositor,
        "--app-id", appId, "--watch-pid", std::to_string(::getpid()), "--folder", folder, "--report",
        runtimeDir + "/" + std::string(TaskBarIdentities::relayReportSocket)};
    if (listener < 0 || !spawnDetached(arguments, listener)) {
        if (listener >= 0)
            ::close(listener);
        ::unlink(socket.c_str());
        ::rmdir(folder.c_str());
        return std::nullopt;
    }
    ::close(listener);
    return folder.substr(runtimeDir.size() + 1) + "/" + socketName;
}

} // namespace korvel::launcher::RelayStart
