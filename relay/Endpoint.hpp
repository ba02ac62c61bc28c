#pragma once

#include <deque>
#include <string>

namespace korvel::relay {

// One end of a relayed connection: a non-blocking Unix stream socket with the bytes and file descriptors read from
// it and those waiting to be written to it. Descriptors travel with the bytes they arrived with or with earlier
// ones, never later, which is all a Wayland peer needs to match them to their messages.
class Endpoint
{
public:
    // Takes ownership of `socket`.
    explicit Endpoint(int socket);
    ~Endpoint();
    Endpoint(const Endpoint&) = delete;
    Endpoint& operator=(const Endpoint&) = delete;

    int socket() const { return descriptor; }

    // Reads what the socket has now into `input` and `inputFds`. False at the end of the stream. Throws
    // ProtocolError when descriptors were cut off or the socket fails.
    bool receive();
    // Writes as much of `output` and `outputFds` as the socket takes now; false when the peer is gone.
    bool flush();
    bool hasOutput() const { return !output.empty(); }

    std::string input;
    std::deque<int> inputFds;
    std::string output;
    std::deque<int> outputFds;

    // Descriptors a Wayland peer accepts with one message at most (libwayland's limit per read).
    static constexpr size_t fdsPerSend = 28;

private:
    int descriptor;
};

} // namespace korvel::relay
