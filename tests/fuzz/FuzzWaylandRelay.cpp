// Wayland streams through one relayed connection, in both directions, with descriptors attached: whatever comes,
// the relay ends the connection or passes well-formed messages on, and no descriptor stays open.
#include "relay/Connection.hpp"
#include "tests/fuzz/Fuzzing.hpp"
#include "tests/relay/WaylandStream.hpp"

#include <filesystem>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

using namespace korvel;

size_t openDescriptors()
{
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

void sendWith(int socket, std::string_view bytes, size_t fdCount)
{
    std::vector<int> fds;
    for (size_t index = 0; index < fdCount; ++index)
        fds.push_back(::dup(STDERR_FILENO));
    test::sendWithDescriptors(socket, bytes, fds, MSG_DONTWAIT);
    for (const int fd : fds)
        ::close(fd);
}

// What reached the far end now: closes the descriptors and answers the bytes.
std::string drain(relay::Endpoint& far)
{
    size_t before = 0;
    do {
        before = far.input.size();
        far.receive();
    } while (far.input.size() != before);
    for (const int fd : far.inputFds)
        ::close(fd);
    far.inputFds.clear();
    return std::exchange(far.input, {});
}

// Whether `bytes` is a run of whole messages.
bool wellFormed(std::string_view bytes)
{
    while (!bytes.empty()) {
        const auto message = relay::WireMessage::header(bytes);
        if (!message || message->size > bytes.size())
            return false;
        bytes.remove_prefix(message->size);
    }
    return true;
}

void run(std::string_view input)
{
    const size_t before = openDescriptors();
    {
        int client[2], compositor[2];
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, client);
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, compositor);
        relay::Connection connection(client[1], compositor[1], "com.example.profile");
        relay::Endpoint app(client[0]), display(compositor[0]);
        std::string forwardedRequests, forwardedEvents;
        // Each chunk: a control byte (direction, descriptor count, length) and up to 63 bytes of stream.
        bool open = true;
        while (open && !input.empty()) {
            const auto control = static_cast<unsigned char>(input.front());
            const size_t length = std::min<size_t>(control & 0x3f, input.size() - 1);
            const bool toCompositor = !(control & 0x80);
            sendWith(
                toCompositor ? client[0] : compositor[0], input.substr(1, length), length ? (control >> 4) & 3 : 0);
            input.remove_prefix(1 + length);
            std::string reason;
            open = connection.relay(toCompositor ? connection.client : connection.compositor, reason);
            forwardedRequests += drain(display);
            forwardedEvents += drain(app);
        }
        if (!wellFormed(forwardedRequests) || !wellFormed(forwardedEvents))
            throw fuzz::Fault {"the relay passed on part of a message"};
    }
    if (openDescriptors() != before)
        throw fuzz::Fault {"a descriptor stayed open"};
}

std::string chunked(const std::string& stream, bool events)
{
    std::string out;
    for (size_t offset = 0; offset < stream.size(); offset += 40) {
        const std::string piece = stream.substr(offset, 40);
        out += static_cast<char>((events ? 0x80 : 0) | (offset % 3) << 4 | piece.size());
        out += piece;
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    using test::wire;
    const std::string session =
        test::toToplevel() + wire(5, 3, {std::string("Claude")}) + wire(5, 2, {std::string("t")});
    std::string configure;
    relay::WireWriter::word(configure, 0);
    relay::WireWriter::word(configure, 0);
    configure += test::wireArray({1, 4});
    const std::string events = relay::WireMessage::encode(5, 0, configure) + wire(1, 1, {5u});
    return fuzz::main(argc, argv,
        {{chunked(session, false) + chunked(events, true), chunked(session + wire(5, 0, {}), false)},
            {wire(1, 1, {}), wire(5, 3, {std::string("x")}), std::string("\x05\0\0\0\x03\0\x0c\0", 8),
                std::string("\xff\xff\xff\xff", 4), "xdg_wm_base"},
            run});
}
