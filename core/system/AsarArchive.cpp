#include "core/system/AsarArchive.hpp"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <fstream>

namespace korvel::AsarArchive {
namespace {

namespace fs = std::filesystem;

// The index of a large app runs to a few megabytes; anything far beyond is not an archive.
constexpr std::uint32_t indexLimit = 64u << 20;
// Deeper than any real folder tree, and shallow enough to keep the parser's recursion small.
constexpr int depthLimit = 64;

std::uint32_t littleEndian(const std::array<unsigned char, 16>& bytes, size_t offset)
{
    return static_cast<std::uint32_t>(bytes[offset]) | static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
        static_cast<std::uint32_t>(bytes[offset + 2]) << 16 | static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

std::optional<nlohmann::json> parseShallow(const std::string& text)
{
    bool tooDeep = false;
    const nlohmann::json::parser_callback_t limit = [&tooDeep](
                                                        int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
        if (depth > depthLimit)
            tooDeep = true;
        return !tooDeep;
    };
    nlohmann::json value = nlohmann::json::parse(text, limit, false);
    if (tooDeep || value.is_discarded())
        return std::nullopt;
    return value;
}

struct Index
{
    nlohmann::json files;
    std::uint64_t dataStart = 0;
};

// Header: a pickle holding the index pickle's size, then the index pickle: its payload size, the JSON text's
// length and the text. File data begins right after the index pickle.
std::optional<Index> readIndex(std::ifstream& in)
{
    std::array<unsigned char, 16> header {};
    if (!in.read(reinterpret_cast<char*>(header.data()), header.size()))
        return std::nullopt;
    const std::uint32_t indexPickleSize = littleEndian(header, 4);
    const std::uint32_t textLength = littleEndian(header, 12);
    if (littleEndian(header, 0) != 4 || textLength > indexLimit || textLength + 8u > indexPickleSize)
        return std::nullopt;
    std::string text(textLength, '\0');
    if (!in.read(text.data(), textLength))
        return std::nullopt;
    auto index = parseShallow(text);
    if (!index || !index->is_object())
        return std::nullopt;
    return Index {std::move(*index), 8u + static_cast<std::uint64_t>(indexPickleSize)};
}

const nlohmann::json* entry(const nlohmann::json& root, const std::string& member)
{
    const nlohmann::json* node = &root;
    size_t start = 0;
    while (start <= member.size()) {
        const size_t end = std::min(member.find('/', start), member.size());
        const auto files = node->find("files");
        if (files == node->end() || !files->is_object())
            return nullptr;
        const auto child = files->find(member.substr(start, end - start));
        if (child == files->end() || !child->is_object())
            return nullptr;
        node = &*child;
        start = end + 1;
    }
    return node;
}

std::optional<std::string> readFile(const fs::path& file, std::size_t limit)
{
    std::ifstream in(file, std::ios::binary);
    std::error_code error;
    const auto size = fs::file_size(file, error);
    if (!in || error || size > limit)
        return std::nullopt;
    std::string bytes(size, '\0');
    if (!in.read(bytes.data(), static_cast<std::streamsize>(size)))
        return std::nullopt;
    return bytes;
}

} // namespace

std::optional<std::string> read(const fs::path& archive, const std::string& member, std::size_t limit)
{
    try {
        std::ifstream in(archive, std::ios::binary);
        const auto index = in ? readIndex(in) : std::nullopt;
        const nlohmann::json* found = index ? entry(index->files, member) : nullptr;
        if (!found)
            return std::nullopt;
        if (found->value("unpacked", false))
            return readFile(fs::path(archive.string() + ".unpacked") / member, limit);
        const auto size = found->find("size");
        const auto offset = found->find("offset");
        if (size == found->end() || !size->is_number_unsigned() || offset == found->end() || !offset->is_string())
            return std::nullopt;
        const std::uint64_t length = size->get<std::uint64_t>();
        const std::uint64_t start = std::stoull(offset->get<std::string>());
        if (length > limit)
            return std::nullopt;
        std::string bytes(length, '\0');
        in.seekg(static_cast<std::streamoff>(index->dataStart + start));
        if (!in.read(bytes.data(), static_cast<std::streamsize>(length)))
            return std::nullopt;
        return bytes;
    } catch (const std::exception&) {
        return std::nullopt; // a malformed offset or a failing stream
    }
}

std::optional<std::string> packageVersion(const fs::path& archive)
{
    const auto text = read(archive, "package.json");
    const auto package = text ? parseShallow(*text) : std::nullopt;
    if (!package || !package->is_object())
        return std::nullopt;
    const auto version = package->find("version");
    if (version == package->end() || !version->is_string() || version->get<std::string>().empty())
        return std::nullopt;
    return version->get<std::string>();
}

} // namespace korvel::AsarArchive
