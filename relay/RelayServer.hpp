#pragma once

#include "relay/Connection.hpp"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace korvel::relay {

// Accepts clients on a listening socket, connects each to the compositor and relays both ways in one poll loop.
class RelayServer
{
public:
    struct Options
    {
        int listener = -1; // listening Unix socket, owned by the server from here on
        std::string compositorPath; // the compositor's socket
        std::string appId;
        int watchedProcess = -1; // a pidfd of Claude's main process, or -1
        std::function<void(bool activated)> activation; // told when whether a window is active changes
        std::function<void(const std::string&)> log;
    };

    explicit RelayServer(Options options);
    ~RelayServer();

    // Runs until the watched process has ended and no client is connected; without a watched process, until the
    // last client has gone (after at least one came).
    void run();

private:
    void accept();
    void drop(size_t index, const std::string& reason);
    void reportActivation();

    Options options;
    std::vector<std::unique_ptr<Connection>> connections;
    bool served = false;
    bool watchedEnded = false;
    bool active = false;
};

// A connected, non-blocking socket to the Unix socket at `path`; -1 with errno set when that fails.
int connectTo(const std::string& path);

} // namespace korvel::relay
