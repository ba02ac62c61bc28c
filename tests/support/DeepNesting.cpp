#include "tests/support/DeepNesting.hpp"

#include <cstdint>

namespace korvel::test::DeepNesting {
namespace {

void appendBigEndian(std::string& bytes, uint64_t value, int size)
{
    for (int shift = 8 * (size - 1); shift >= 0; shift -= 8)
        bytes += static_cast<char>((value >> shift) & 0xff);
}

std::string repeated(std::string_view piece, size_t count)
{
    std::string text;
    text.reserve(piece.size() * count);
    for (size_t i = 0; i < count; ++i)
        text += piece;
    return text;
}

} // namespace

std::string xmlPlist(size_t depth, bool dictionaries)
{
    const std::string open = dictionaries ? "<dict><key>k</key>" : "<array>";
    const std::string close = dictionaries ? "</dict>" : "</array>";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + repeated(open, depth) +
        (dictionaries ? "<string/>" : "") + repeated(close, depth) + "</plist>\n";
}

std::string binaryPlist(size_t depth)
{
    // Object i is an array holding object i + 1; the last one is empty. Offsets and references are 4 bytes.
    std::string bytes = "bplist00";
    std::string offsets;
    for (size_t i = 0; i < depth; ++i) {
        appendBigEndian(offsets, bytes.size(), 4);
        if (i + 1 < depth) {
            bytes += '\xA1';
            appendBigEndian(bytes, i + 1, 4);
        } else {
            bytes += '\xA0';
        }
    }
    const uint64_t tableOffset = bytes.size();
    bytes += offsets;
    bytes += std::string(6, '\0');
    bytes += '\x04'; // offset size
    bytes += '\x04'; // reference size
    appendBigEndian(bytes, depth, 8);
    appendBigEndian(bytes, 0, 8);
    appendBigEndian(bytes, tableOffset, 8);
    return bytes;
}

std::string json(size_t depth)
{
    return repeated("{\"k\":", depth) + "{}" + repeated("}", depth);
}

} // namespace korvel::test::DeepNesting
