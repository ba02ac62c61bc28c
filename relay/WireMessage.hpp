#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace korvel::relay {

// A stream the relay refuses to pass on; the connection it came from is closed with this reason.
struct ProtocolError : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

// One Wayland wire message: a header of two 32-bit words in host order (object id; size << 16 | opcode) and its
// arguments, each a multiple of four bytes.
struct WireMessage
{
    static constexpr size_t headerSize = 8;

    uint32_t objectId = 0;
    uint16_t opcode = 0;
    uint16_t size = 0; // the whole message, header included

    // The header at the start of `bytes`, or nothing while fewer than eight bytes are there. Throws ProtocolError
    // for a size no sender could have written (below the header, not a multiple of four).
    static std::optional<WireMessage> header(std::string_view bytes);

    // A header for `arguments` that belong to `objectId`/`opcode`, as bytes.
    static std::string encode(uint32_t objectId, uint16_t opcode, std::string_view arguments);
};

// Reads the arguments of one message in order; every read past the message's end throws ProtocolError.
class WireReader
{
public:
    explicit WireReader(std::string_view arguments)
        : rest(arguments)
    { }

    uint32_t word();
    // A string argument without its terminating NUL; nothing for a null string.
    std::optional<std::string_view> string();
    // An array argument's bytes.
    std::string_view array();

private:
    std::string_view bytes(size_t length);
    std::string_view rest;
};

namespace WireWriter {

void word(std::string& out, uint32_t value);
// A string argument: its length with the NUL, the bytes, the NUL and padding up to four.
void string(std::string& out, std::string_view text);

} // namespace WireWriter
} // namespace korvel::relay
