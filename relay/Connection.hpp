#pragma once

#include "relay/Endpoint.hpp"
#include "relay/ToplevelFilter.hpp"

#include <string>

namespace korvel::relay {

// One client connection relayed to its own connection to the compositor.
class Connection
{
public:
    // Takes ownership of both sockets.
    Connection(int client, int compositor, std::string appId);

    Endpoint client;
    Endpoint compositor;

    // Moves what `from` has received through the filter to the other end and writes it. False when the connection
    // is over; `reason` then says why, empty for an orderly end.
    bool relay(Endpoint& from, std::string& reason);
    // Writes what waits for `to`; false when its peer is gone.
    bool flush(Endpoint& to) { return to.flush(); }

    // Whether reading from `from` should wait until its peer has taken what waits for it.
    bool backedUp(const Endpoint& from) const;

    bool activated() const { return filter.activated(); }
    std::vector<std::string> takeActivationTokens() { return filter.takeActivationTokens(); }

private:
    ToplevelFilter filter;
};

} // namespace korvel::relay
