#include "relay/WireMessage.hpp"

#include <cstring>

namespace korvel::relay {

namespace {

uint32_t wordAt(std::string_view bytes, size_t offset)
{
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

size_t padded(size_t length)
{
    return (length + 3) & ~size_t {3};
}

} // namespace

std::optional<WireMessage> WireMessage::header(std::string_view bytes)
{
    if (bytes.size() < headerSize)
        return std::nullopt;
    const uint32_t sizeAndOpcode = wordAt(bytes, 4);
    WireMessage message {
        wordAt(bytes, 0), static_cast<uint16_t>(sizeAndOpcode & 0xffff), static_cast<uint16_t>(sizeAndOpcode >> 16)};
    if (message.size < headerSize || message.size % 4 != 0)
        throw ProtocolError("message of object " + std::to_string(message.objectId) + " has an impossible size " +
            std::to_string(message.size));
    return message;
}

std::string WireMessage::encode(uint32_t objectId, uint16_t opcode, std::string_view arguments)
{
    const size_t size = headerSize + arguments.size();
    if (size > 0xffff || size % 4 != 0)
        throw ProtocolError("a rewritten message would not fit a Wayland header");
    std::string out;
    out.reserve(size);
    WireWriter::word(out, objectId);
    WireWriter::word(out, static_cast<uint32_t>(size) << 16 | opcode);
    out.append(arguments);
    return out;
}

std::string_view WireReader::bytes(size_t length)
{
    if (length > rest.size())
        throw ProtocolError("message ends inside an argument");
    const std::string_view taken = rest.substr(0, length);
    rest.remove_prefix(length);
    return taken;
}

uint32_t WireReader::word()
{
    return wordAt(bytes(4), 0);
}

std::optional<std::string_view> WireReader::string()
{
    const uint32_t length = word();
    if (length == 0)
        return std::nullopt;
    const std::string_view text = bytes(padded(length)).substr(0, length);
    if (text.back() != '\0')
        throw ProtocolError("string argument without its terminating NUL");
    return text.substr(0, length - 1);
}

std::string_view WireReader::array()
{
    const uint32_t length = word();
    return bytes(padded(length)).substr(0, length);
}

namespace WireWriter {

void word(std::string& out, uint32_t value)
{
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void string(std::string& out, std::string_view text)
{
    word(out, static_cast<uint32_t>(text.size() + 1));
    out.append(text);
    out.append(padded(text.size() + 1) - text.size(), '\0');
}

} // namespace WireWriter
} // namespace korvel::relay
