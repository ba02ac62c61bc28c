#include "core/system/AsarArchive.hpp"

#include "core/support/AtomicFile.hpp"
#include "core/support/JsonText.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace korvel::AsarArchive {
namespace {

namespace fs = std::filesystem;

// The index of a large app runs to a few megabytes; anything far beyond is not an archive.
constexpr std::uint32_t indexLimit = 64u << 20;

std::optional<nlohmann::json> parse(const std::string& text)
{
    nlohmann::json value = JsonText::parse(text);
    if (value.is_discarded() || !value.is_object())
        return std::nullopt;
    return value;
}

// Exactly `length` bytes at `offset` of the open file, or nothing.
std::optional<std::string> readAt(int fd, std::uint64_t offset, std::uint64_t length)
{
    std::string bytes(length, '\0');
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, bytes.data() + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        done += static_cast<size_t>(n);
    }
    return bytes;
}

std::uint32_t littleEndian(std::string_view bytes, size_t offset)
{
    const auto byte = [&bytes, offset](size_t index) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + index]));
    };
    return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
}

struct Index
{
    nlohmann::json files;
    std::uint64_t dataStart = 0;
};

// Header: a pickle holding the index pickle's size, then the index pickle: its payload size, the JSON text's
// length and the text. File data begins right after the index pickle.
std::optional<Index> readIndex(int fd)
{
    const auto header = readAt(fd, 0, 16);
    if (!header)
        return std::nullopt;
    const std::uint32_t indexPickleSize = littleEndian(*header, 4);
    const std::uint32_t textLength = littleEndian(*header, 12);
    if (littleEndian(*header, 0) != 4 || textLength > indexLimit || textLength + 8u > indexPickleSize)
        return std::nullopt;
    const auto text = readAt(fd, 16, textLength);
    auto index = text ? parse(*text) : std::nullopt;
    if (!index)
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

// The open file's descriptor, closed when it goes.
struct OpenFile
{
    int fd = -1;
    explicit OpenFile(const fs::path& path)
    {
        try {
            fd = AtomicFile::openForReading(path);
        } catch (const std::exception&) {
            // fd stays -1: not there, not readable or no regular file
        }
    }
    ~OpenFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
};

std::optional<std::string> readFile(const fs::path& file, std::size_t limit)
{
    const OpenFile in(file);
    struct stat info
    { };
    if (in.fd < 0 || ::fstat(in.fd, &info) != 0 || static_cast<std::uint64_t>(info.st_size) > limit)
        return std::nullopt;
    return readAt(in.fd, 0, static_cast<std::uint64_t>(info.st_size));
}

} // namespace

std::optional<std::string> read(const fs::path& archive, const std::string& member, std::size_t limit)
{
    try {
        const OpenFile in(archive);
        const auto index = in.fd >= 0 ? readIndex(in.fd) : std::nullopt;
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
        return readAt(in.fd, index->dataStart + start, length);
    } catch (const std::exception&) {
        return std::nullopt; // a malformed offset or a failing stream
    }
}

std::optional<std::string> packageVersion(const fs::path& archive)
{
    const auto text = read(archive, "package.json");
    const auto package = text ? parse(*text) : std::nullopt;
    if (!package)
        return std::nullopt;
    const auto version = package->find("version");
    if (version == package->end() || !version->is_string() || version->get<std::string>().empty())
        return std::nullopt;
    return version->get<std::string>();
}

} // namespace korvel::AsarArchive
