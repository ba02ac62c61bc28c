#include "core/building/PlistScreening.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvel::PlistScreening {
namespace {

// ---- XML: count the open <array> and <dict> elements (libplist refuses a NUL character in XML) ----

bool xmlWithin(std::string_view text, size_t limit)
{
    size_t depth = 0;
    for (size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', at + 1)) {
        const std::string_view rest = text.substr(at);
        std::string_view end = ">";
        if (rest.starts_with("<!--"))
            end = "-->";
        else if (rest.starts_with("<![CDATA["))
            end = "]]>";
        const size_t close = text.find(end, at + 1);
        if (close == std::string_view::npos)
            return true;
        const std::string_view tag = text.substr(at + 1, close - at - 1);
        at = close;
        const bool closing = tag.starts_with('/');
        const std::string_view name = tag.substr(closing ? 1 : 0, tag.find_first_of(" \t\r\n/", 1) - (closing ? 1 : 0));
        if (name != "array" && name != "dict")
            continue;
        if (closing)
            depth -= depth > 0 ? 1 : 0;
        else if (!tag.ends_with('/') && ++depth > limit)
            return false;
    }
    return true;
}

// ---- Binary: the objects form a graph; its height from the top object ----

struct Binary
{
    std::string_view bytes;
    size_t offsetSize = 0, referenceSize = 0;
    uint64_t count = 0, top = 0, tableOffset = 0;

    static uint64_t number(std::string_view bytes, size_t at, size_t size)
    {
        uint64_t value = 0;
        for (size_t i = 0; i < size; ++i)
            value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
        return value;
    }

    static std::optional<Binary> of(std::string_view bytes)
    {
        constexpr size_t header = 8, trailer = 32;
        if (bytes.size() < header + trailer)
            return std::nullopt;
        const size_t at = bytes.size() - trailer;
        Binary binary {bytes, static_cast<unsigned char>(bytes[at + 6]), static_cast<unsigned char>(bytes[at + 7]),
            number(bytes, at + 8, 8), number(bytes, at + 16, 8), number(bytes, at + 24, 8)};
        const bool sizes =
            binary.offsetSize >= 1 && binary.offsetSize <= 8 && binary.referenceSize >= 1 && binary.referenceSize <= 8;
        if (!sizes || binary.top >= binary.count || binary.tableOffset > at ||
            binary.count > (at - binary.tableOffset) / binary.offsetSize)
            return std::nullopt;
        return binary;
    }

    uint64_t offsetOf(uint64_t index) const { return number(bytes, tableOffset + index * offsetSize, offsetSize); }

    // Whether object `index` is a string libplist can take as a key: ASCII without NUL, or UTF-16 without a zero.
    bool plainKey(uint64_t index) const
    {
        const uint64_t start = offsetOf(index), end = bytes.size() - 32;
        if (start >= end)
            return true; // libplist refuses it on its own
        const auto marker = static_cast<unsigned char>(bytes[start]);
        uint64_t size = marker & 0xF, at = start + 1;
        if (size == 0xF && !sizeAt(at, end, size))
            return true;
        const unsigned type = marker >> 4;
        if (type != 0x5 && type != 0x6)
            return false; // libplist takes data or a number as a key too, and then reads it as text
        const uint64_t width = type == 0x6 ? 2 : 1;
        if (size > (end - at) / width)
            return true;
        for (uint64_t i = 0; i < size; ++i) {
            const auto high = static_cast<unsigned char>(bytes[at + i * width]);
            const auto low = static_cast<unsigned char>(bytes[at + i * width + width - 1]);
            if (type == 0x5 ? (low == 0 || low > 0x7F) : (high == 0 && low == 0))
                return false;
        }
        return true;
    }

    // A size above 14 follows the marker as an integer object; false when it does not fit the bytes.
    bool sizeAt(uint64_t& at, uint64_t end, uint64_t& size) const
    {
        if (at >= end || (static_cast<unsigned char>(bytes[at]) >> 4) != 0x1)
            return false;
        const size_t width = size_t {1} << (static_cast<unsigned char>(bytes[at]) & 0x3);
        if (at + 1 + width > end)
            return false;
        size = number(bytes, at + 1, width);
        at += 1 + width;
        return true;
    }

    // The objects that container `index` holds (keys too, for a dictionary); none for other objects.
    // `plainKeys` turns false when one of a dictionary's keys is not plainKey.
    std::vector<uint64_t> children(uint64_t index, bool& plainKeys) const
    {
        const uint64_t start = offsetOf(index);
        const uint64_t end = bytes.size() - 32;
        if (start >= end)
            return {};
        const auto marker = static_cast<unsigned char>(bytes[start]);
        const unsigned type = marker >> 4;
        if (type != 0xA && type != 0xB && type != 0xC && type != 0xD) // array, ordered set, set, dictionary
            return {};
        uint64_t size = marker & 0xF;
        uint64_t at = start + 1;
        if (size == 0xF && !sizeAt(at, end, size))
            return {};
        const uint64_t references = type == 0xD ? 2 * size : size;
        if (size > end || references > (end - at) / referenceSize)
            return {};
        std::vector<uint64_t> list;
        list.reserve(references);
        for (uint64_t i = 0; i < references; ++i) {
            const uint64_t child = number(bytes, at + i * referenceSize, referenceSize);
            if (child >= count)
                continue;
            if (type == 0xD && i < size && !plainKey(child))
                plainKeys = false;
            list.push_back(child);
        }
        return list;
    }
};

constexpr std::string_view notPlain = "a dictionary key is not plain text";

std::string deep(size_t limit)
{
    return "its arrays and dictionaries are nested more than " + std::to_string(limit) + " deep";
}

std::optional<std::string> binaryProblem(std::string_view bytes, size_t limit)
{
    const auto binary = Binary::of(bytes);
    if (!binary)
        return std::nullopt;
    bool plainKeys = true;
    // Depth-first with our own stack; the height below every finished object is kept, so that an object many
    // containers share is walked once.
    enum class State : uint8_t { New, Open, Done };
    std::vector<State> state(binary->count, State::New);
    std::vector<uint32_t> height(binary->count, 0);
    struct Frame
    {
        uint64_t index;
        std::vector<uint64_t> children;
        size_t next = 0;
    };
    std::vector<Frame> stack;
    stack.push_back({binary->top, binary->children(binary->top, plainKeys)});
    state[binary->top] = State::Open;
    if (!plainKeys)
        return std::string(notPlain);
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.children.size()) {
            state[frame.index] = State::Done;
            const uint32_t below = height[frame.index] + 1;
            stack.pop_back();
            if (!stack.empty())
                height[stack.back().index] = std::max(height[stack.back().index], below);
            continue;
        }
        const uint64_t child = frame.children[frame.next++];
        if (state[child] == State::Open)
            return deep(limit); // a circle
        if (state[child] == State::Done) {
            if (stack.size() + 1 + height[child] > limit)
                return deep(limit);
            height[frame.index] = std::max(height[frame.index], height[child] + 1);
            continue;
        }
        if (stack.size() >= limit)
            return deep(limit);
        state[child] = State::Open;
        stack.push_back({child, binary->children(child, plainKeys)});
        if (!plainKeys)
            return std::string(notPlain);
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> problem(std::string_view bytes, size_t depthLimit)
{
    if (bytes.starts_with("bplist00"))
        return binaryProblem(bytes, depthLimit);
    if (!xmlWithin(bytes, depthLimit))
        return deep(depthLimit);
    return std::nullopt;
}

} // namespace korvel::PlistScreening
