#pragma once

#include "relay/WireMessage.hpp"

#include <array>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <variant>
#include <vector>

namespace korvel::test {

// Hand-built Wayland messages: arguments are words or strings, encoded as a client library would.
using WireArgument = std::variant<uint32_t, std::string>;

inline std::string wire(uint32_t objectId, uint16_t opcode, std::initializer_list<WireArgument> arguments)
{
    std::string body;
    for (const auto& argument : arguments) {
        if (const auto* word = std::get_if<uint32_t>(&argument))
            relay::WireWriter::word(body, *word);
        else
            relay::WireWriter::string(body, std::get<std::string>(argument));
    }
    return relay::WireMessage::encode(objectId, opcode, body);
}

// An array argument of words, as xdg_toplevel.configure carries its states.
inline std::string wireArray(std::initializer_list<uint32_t> words)
{
    std::string out;
    relay::WireWriter::word(out, static_cast<uint32_t>(words.size() * 4));
    for (const uint32_t word : words)
        relay::WireWriter::word(out, word);
    return out;
}

// A client's way to its first toplevel: registry 2, xdg_wm_base 3, xdg_surface 4 on wl_surface 10, toplevel 5.
inline std::string toToplevel()
{
    return wire(1, 1, {2u}) + wire(2, 0, {7u, std::string("xdg_wm_base"), 5u, 3u}) + wire(3, 2, {4u, 10u}) +
        wire(4, 1, {5u});
}

// Sends `bytes` with `fds` (up to 64) attached in one message, as a Wayland peer passes descriptors; what
// sendmsg returned.
inline ssize_t sendWithDescriptors(int socket, std::string_view bytes, const std::vector<int>& fds, int flags = 0)
{
    iovec vector {const_cast<char*>(bytes.data()), bytes.size()};
    std::array<char, CMSG_SPACE(sizeof(int) * 64)> control {};
    msghdr message {};
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    if (!fds.empty()) {
        message.msg_control = control.data();
        message.msg_controllen = CMSG_SPACE(sizeof(int) * fds.size());
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        *header = {CMSG_LEN(sizeof(int) * fds.size()), SOL_SOCKET, SCM_RIGHTS};
        std::memcpy(CMSG_DATA(header), fds.data(), sizeof(int) * fds.size());
    }
    return ::sendmsg(socket, &message, flags);
}

} // namespace korvel::test
