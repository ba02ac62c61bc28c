#include "core/building/IcnsFile.hpp"

#include "core/support/AtomicFile.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <exception>

namespace korvel::IcnsFile {
namespace {

enum class Payload {
    Modern, // PNG, JPEG 2000 or (ic04/ic05) ARGB run-length data
    Classic // 24-bit RGB, raw or run-length, with a separate 8-bit mask element
};

struct ElementType
{
    std::string_view type;
    int side;
    Payload payload;
    std::string_view maskType; // classic images only
};

constexpr std::array<ElementType, 17> knownTypes = {{
    {"icp4", 16, Payload::Modern, {}},
    {"icp5", 32, Payload::Modern, {}},
    {"icp6", 64, Payload::Modern, {}},
    {"ic07", 128, Payload::Modern, {}},
    {"ic08", 256, Payload::Modern, {}},
    {"ic09", 512, Payload::Modern, {}},
    {"ic10", 1024, Payload::Modern, {}},
    {"ic04", 16, Payload::Modern, {}},
    {"ic05", 32, Payload::Modern, {}},
    {"ic11", 32, Payload::Modern, {}},
    {"ic12", 64, Payload::Modern, {}},
    {"ic13", 256, Payload::Modern, {}},
    {"ic14", 512, Payload::Modern, {}},
    {"is32", 16, Payload::Classic, "s8mk"},
    {"il32", 32, Payload::Classic, "l8mk"},
    {"ih32", 48, Payload::Classic, "h8mk"},
    {"it32", 128, Payload::Classic, "t8mk"},
}};

// The types we write, one per side; the first seven of the table.
constexpr size_t writtenTypeCount = 7;

constexpr size_t maxFileSize = 64 * 1024 * 1024;

struct Element
{
    std::string_view type;
    std::string_view payload;
};

// One image element found in the file, with what is needed to decode it.
struct Candidate
{
    const ElementType* kind;
    std::string_view payload;
    std::string_view mask; // empty when the file has none
};

std::uint32_t bigEndian32(std::string_view bytes, size_t at)
{
    std::uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

void appendBigEndian32(std::string& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xff));
}

const ElementType* typeNamed(std::string_view type)
{
    const auto* found = std::find_if(
        knownTypes.begin(), knownTypes.end(), [&](const ElementType& known) { return known.type == type; });
    return found == knownTypes.end() ? nullptr : found;
}

// Splits the container into its elements; nothing when any length is inconsistent.
std::optional<std::vector<Element>> elementsOf(std::string_view data)
{
    if (data.size() < 8 || data.substr(0, 4) != "icns")
        return std::nullopt;
    const std::uint32_t total = bigEndian32(data, 4);
    if (total < 8 || total > data.size())
        return std::nullopt;
    data = data.substr(0, total);
    std::vector<Element> elements;
    for (size_t at = 8; at < data.size();) {
        if (data.size() - at < 8)
            return std::nullopt;
        const std::uint32_t length = bigEndian32(data, at + 4);
        if (length < 8 || length > data.size() - at)
            return std::nullopt;
        elements.push_back({data.substr(at, 4), data.substr(at + 8, length - 8)});
        at += length;
    }
    return elements;
}

std::vector<Candidate> candidatesOf(const std::vector<Element>& elements)
{
    std::vector<Candidate> candidates;
    for (const Element& element : elements) {
        const ElementType* kind = typeNamed(element.type);
        if (!kind)
            continue;
        Candidate candidate {kind, element.payload, {}};
        for (const Element& other : elements) {
            if (kind->payload == Payload::Classic && other.type == kind->maskType)
                candidate.mask = other.payload;
        }
        candidates.push_back(candidate);
    }
    return candidates;
}

// Apple's PackBits variant over channels stored one after another: a byte n < 0x80 is followed by n + 1
// literal bytes, a byte n ≥ 0x80 by one byte repeated n − 125 times. Runs past the end are cut off.
std::optional<std::vector<std::uint8_t>> unpack(std::string_view data, size_t size)
{
    std::vector<std::uint8_t> out;
    out.reserve(size);
    size_t at = 0;
    while (out.size() < size) {
        if (at >= data.size())
            return std::nullopt;
        const auto control = static_cast<unsigned char>(data[at++]);
        const size_t wanted = control < 0x80 ? control + 1u : control - 125u;
        const size_t count = std::min(wanted, size - out.size());
        if (control < 0x80) {
            if (data.size() - at < wanted)
                return std::nullopt;
            out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                data.begin() + static_cast<std::ptrdiff_t>(at + count));
            at += wanted;
        } else {
            if (at >= data.size())
                return std::nullopt;
            out.insert(out.end(), count, static_cast<std::uint8_t>(data[at++]));
        }
    }
    return out;
}

std::uint32_t premultipliedWord(unsigned red, unsigned green, unsigned blue, unsigned alpha)
{
    const auto scale = [alpha](unsigned component) { return (component * alpha + 127) / 255; };
    return (alpha << 24) | (scale(red) << 16) | (scale(green) << 8) | scale(blue);
}

// Channels is a side × side plane each of alpha (optional), red, green and blue.
Bitmap fromPlanes(
    int side, const std::uint8_t* alpha, const std::uint8_t* red, const std::uint8_t* green, const std::uint8_t* blue)
{
    Bitmap image(side, side);
    const size_t count = static_cast<size_t>(side) * static_cast<size_t>(side);
    for (size_t i = 0; i < count; ++i)
        image.pixels()[i] = premultipliedWord(red[i], green[i], blue[i], alpha ? alpha[i] : 255);
    return image;
}

std::optional<Bitmap> decodeArgb(std::string_view payload, int side)
{
    const size_t plane = static_cast<size_t>(side) * static_cast<size_t>(side);
    const auto channels = unpack(payload.substr(4), 4 * plane);
    if (!channels)
        return std::nullopt;
    const std::uint8_t* data = channels->data();
    return fromPlanes(side, data, data + plane, data + 2 * plane, data + 3 * plane);
}

std::optional<Bitmap> decodeClassic(const Candidate& candidate)
{
    const int side = candidate.kind->side;
    const size_t plane = static_cast<size_t>(side) * static_cast<size_t>(side);
    std::string_view payload = candidate.payload;
    // it32 data begins with four zero bytes.
    if (candidate.kind->type == "it32" && payload.size() >= 4 &&
        payload.substr(0, 4) == std::string_view("\0\0\0\0", 4))
        payload.remove_prefix(4);
    const auto* alpha =
        candidate.mask.size() == plane ? reinterpret_cast<const std::uint8_t*>(candidate.mask.data()) : nullptr;

    if (payload.size() == 4 * plane) {
        // Uncompressed: one unused byte, then red, green, blue per pixel.
        std::vector<std::uint8_t> planes(3 * plane);
        for (size_t i = 0; i < plane; ++i) {
            for (size_t c = 0; c < 3; ++c)
                planes[c * plane + i] = static_cast<std::uint8_t>(payload[4 * i + 1 + c]);
        }
        return fromPlanes(side, alpha, planes.data(), planes.data() + plane, planes.data() + 2 * plane);
    }
    const auto planes = unpack(payload, 3 * plane);
    if (!planes)
        return std::nullopt;
    return fromPlanes(side, alpha, planes->data(), planes->data() + plane, planes->data() + 2 * plane);
}

std::optional<Bitmap> decode(const Candidate& candidate)
{
    if (candidate.kind->payload == Payload::Classic)
        return decodeClassic(candidate);
    if (candidate.payload.substr(0, 4) == "ARGB")
        return decodeArgb(candidate.payload, candidate.kind->side);
    // Bitmap::decodePng refuses anything that is not PNG, JPEG 2000 included.
    return Bitmap::decodePng(candidate.payload);
}

// The bytes of a regular file of a sane size; nothing otherwise.
std::optional<std::string> readIcns(const std::filesystem::path& file)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error) || std::filesystem::file_size(file, error) > maxFileSize ||
        error)
        return std::nullopt;
    try {
        return AtomicFile::read(file);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

std::optional<std::string> encode(const std::vector<Bitmap>& images)
{
    std::string elements;
    std::vector<int> sides;
    for (const Bitmap& image : images) {
        const auto* end = knownTypes.begin() + writtenTypeCount;
        const auto* type = std::find_if(
            knownTypes.begin(), end, [&](const ElementType& known) { return known.side == image.width(); });
        if (type == end || image.height() != image.width() || std::ranges::count(sides, image.width()) != 0)
            return std::nullopt;
        sides.push_back(image.width());
        const auto png = image.encodePng();
        if (!png)
            return std::nullopt;
        elements.append(type->type);
        appendBigEndian32(elements, static_cast<std::uint32_t>(png->size() + 8));
        elements.append(*png);
    }
    std::string file = "icns";
    appendBigEndian32(file, static_cast<std::uint32_t>(elements.size() + 8));
    return file + elements;
}

std::vector<Bitmap> decodeAll(std::string_view data)
{
    const auto elements = elementsOf(data);
    if (!elements)
        return {};
    std::vector<Bitmap> images;
    for (const Candidate& candidate : candidatesOf(*elements)) {
        if (auto image = decode(candidate))
            images.push_back(std::move(*image));
    }
    return images;
}

std::optional<Bitmap> largestImage(std::string_view data)
{
    const auto elements = elementsOf(data);
    if (!elements)
        return std::nullopt;
    auto candidates = candidatesOf(*elements);
    std::ranges::stable_sort(
        candidates, [](const Candidate& a, const Candidate& b) { return a.kind->side > b.kind->side; });
    for (const Candidate& candidate : candidates) {
        if (auto image = decode(candidate))
            return image;
    }
    return std::nullopt;
}

std::optional<Bitmap> largestImageInFile(const std::filesystem::path& file)
{
    const auto data = readIcns(file);
    return data ? largestImage(*data) : std::nullopt;
}

std::optional<Png> largestPngInFile(const std::filesystem::path& file)
{
    const auto data = readIcns(file);
    const auto elements = data ? elementsOf(*data) : std::nullopt;
    if (!elements)
        return std::nullopt;
    auto candidates = candidatesOf(*elements);
    std::ranges::stable_sort(
        candidates, [](const Candidate& a, const Candidate& b) { return a.kind->side > b.kind->side; });
    for (const Candidate& candidate : candidates) {
        if (const auto sides = Bitmap::pngSides(candidate.payload); sides && candidate.kind->payload == Payload::Modern)
            return Png {std::string(candidate.payload), sides->width, sides->height};
        if (const auto image = decode(candidate))
            if (auto png = image->encodePng())
                return Png {std::move(*png), image->width(), image->height()};
    }
    return std::nullopt;
}

bool holdsEverySize(const std::filesystem::path& file)
{
    const auto data = readIcns(file);
    const auto elements = data ? elementsOf(*data) : std::nullopt;
    if (!elements)
        return false;
    return std::all_of(knownTypes.begin(), knownTypes.begin() + writtenTypeCount, [&](const ElementType& type) {
        return std::ranges::any_of(*elements,
            [&](const Element& element) { return element.type == type.type && Bitmap::pngSides(element.payload); });
    });
}

} // namespace korvel::IcnsFile
