#include "relay/RelayServer.hpp"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace korvel::relay {

int connectTo(const std::string& path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    // A local connect completes at once or fails; only a full backlog answers EAGAIN.
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

RelayServer::RelayServer(Options options)
    : options(std::move(options))
{ }

RelayServer::~RelayServer()
{
    ::close(options.listener);
}

void RelayServer::run()
{
    std::vector<pollfd> fds;
    // A client that connects and leaves again (Chromium looks for a display before it connects for good) does not
    // end the relay while Claude runs; without Claude to watch, the last client leaving ends it.
    const auto over = [this] {
        return connections.empty() && (watchedEnded || (options.watchedProcess < 0 && served));
    };
    while (!over()) {
        fds.clear();
        fds.push_back({options.listener, POLLIN, 0});
        fds.push_back({watchedEnded ? -1 : options.watchedProcess, POLLIN, 0});
        for (const auto& connection : connections) {
            for (Endpoint* end : {&connection->client, &connection->compositor}) {
                short events = end->hasOutput() ? POLLOUT : 0;
                if (!connection->backedUp(*end))
                    events |= POLLIN;
                fds.push_back({end->socket(), events, 0});
            }
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            options.log(std::string("poll failed: ") + std::strerror(errno));
            return;
        }
        if (fds[1].revents)
            watchedEnded = true;
        // Connections first: accepting appends to the list the poll entries were made from.
        for (size_t index = connections.size(); index-- > 0;) {
            Connection& connection = *connections[index];
            std::string reason;
            bool open = true;
            Endpoint* ends[] = {&connection.client, &connection.compositor};
            for (size_t side = 0; side < 2 && open; ++side) {
                const short revents = fds[2 + index * 2 + side].revents;
                if (revents & POLLOUT)
                    open = connection.flush(*ends[side]);
                if (open && (revents & (POLLIN | POLLHUP | POLLERR)))
                    open = connection.relay(*ends[side], reason);
            }
            for (const std::string& token : connection.takeActivationTokens())
                options.log("a window asks to be activated with token " + token);
            if (!open)
                drop(index, reason);
        }
        reportActivation();
        if (fds[0].revents & POLLIN)
            accept();
    }
}

void RelayServer::accept()
{
    const int client = ::accept4(options.listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (client < 0)
        return;
    const int compositor = connectTo(options.compositorPath);
    if (compositor < 0) {
        options.log("cannot reach the compositor at " + options.compositorPath + ": " + std::strerror(errno));
        ::close(client);
        served = true;
        return;
    }
    connections.push_back(std::make_unique<Connection>(client, compositor, options.appId));
    served = true;
}

void RelayServer::drop(size_t index, const std::string& reason)
{
    if (!reason.empty())
        options.log("closing a connection: " + reason);
    connections.erase(connections.begin() + static_cast<std::ptrdiff_t>(index));
}

void RelayServer::reportActivation()
{
    bool now = false;
    for (const auto& connection : connections)
        now = now || connection->activated();
    if (now == active)
        return;
    active = now;
    if (options.activation)
        options.activation(active);
}

} // namespace korvel::relay
