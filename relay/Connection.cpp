#include "relay/Connection.hpp"

#include "relay/WireMessage.hpp"

namespace korvel::relay {

namespace {

// A peer that stops reading holds at most this much in the relay before the other side is no longer read.
constexpr size_t backlogLimit = 4 * 1024 * 1024;

} // namespace

Connection::Connection(int clientSocket, int compositorSocket, std::string appId)
    : client(clientSocket)
    , compositor(compositorSocket)
    , filter(std::move(appId))
{ }

bool Connection::backedUp(const Endpoint& from) const
{
    const Endpoint& to = &from == &client ? compositor : client;
    return to.output.size() > backlogLimit;
}

bool Connection::relay(Endpoint& from, std::string& reason)
{
    Endpoint& to = &from == &client ? compositor : client;
    const char* side = &from == &client ? "client" : "compositor";
    try {
        const bool open = from.receive();
        if (&from == &client)
            filter.requests(from.input, to.output);
        else
            filter.events(from.input, to.output);
        to.outputFds.insert(to.outputFds.end(), from.inputFds.begin(), from.inputFds.end());
        from.inputFds.clear();
        if (!to.flush()) {
            reason = std::string(&to == &client ? "client" : "compositor") + " went away";
            return false;
        }
        if (!open && !from.input.empty())
            reason = std::string(side) + " closed inside a message";
        return open;
    } catch (const ProtocolError& error) {
        reason = std::string(side) + ": " + error.what();
        return false;
    }
}

} // namespace korvel::relay
