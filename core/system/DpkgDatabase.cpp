#include "core/system/DpkgDatabase.hpp"

#include "core/support/AtomicFile.hpp"
#include "core/support/DescriptorIo.hpp"
#include "core/support/FileMemo.hpp"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace korvel::DpkgDatabase {
namespace {

namespace fs = std::filesystem;

// The lines of a file, read in chunks so that neither a status file of hundreds of megabytes nor one endless line
// is ever held whole: each line is cut to maxLine bytes (more than any field we look at needs).
class LineReader
{
public:
    static constexpr size_t maxLine = 4096;

    explicit LineReader(const fs::path& file)
        : m_fd(AtomicFile::openForReading(file))
    { }
    ~LineReader() { ::close(m_fd); }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The next line without its line break; false at the end of the file or on a read error.
    bool next(std::string& line)
    {
        line.clear();
        bool any = false;
        for (;;) {
            if (m_at == m_buffer.size() && !fill())
                return any;
            any = true;
            const char* begin = m_buffer.data() + m_at;
            const size_t available = m_buffer.size() - m_at;
            const void* end = std::memchr(begin, '\n', available);
            const size_t length = end ? static_cast<size_t>(static_cast<const char*>(end) - begin) : available;
            line.append(begin, std::min(length, maxLine - std::min(maxLine, line.size())));
            m_at += length + (end ? 1 : 0);
            if (end)
                return true;
        }
    }

private:
    bool fill()
    {
        m_buffer.clear();
        m_at = 0;
        return DescriptorIo::readUpTo(m_fd, m_buffer, 65536) && !m_buffer.empty();
    }

    int m_fd;
    std::string m_buffer;
    size_t m_at = 0;
};

bool listsFile(const fs::path& list, const std::string& file)
{
    try {
        LineReader lines(list);
        for (std::string line; lines.next(line);)
            if (line == file)
                return true;
    } catch (const std::exception&) {
        // an unreadable list names nothing
    }
    return false;
}

// The value of a "Name: value" line, trimmed; nothing when the line is another field.
std::optional<std::string_view> field(std::string_view line, std::string_view name)
{
    if (line.size() <= name.size() || !line.starts_with(name) || line[name.size()] != ':')
        return std::nullopt;
    line.remove_prefix(name.size() + 1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

// The fields we look at in one paragraph of the status file.
struct Record
{
    std::string package;
    std::string status;
    std::string version;

    void take(std::string_view line)
    {
        for (auto [name, value] : {std::pair {"Package", &package}, {"Status", &status}, {"Version", &version}})
            if (const auto found = field(line, name))
                *value = *found;
    }
    bool isInstalled(std::string_view name) const
    {
        return package == name && status.ends_with(" installed") && !version.empty();
    }
};

// Paragraphs are separated by blank lines; each begins with its Package field in dpkg's own files, but any order is
// accepted. Reading stops at the package's installed record.
std::optional<std::string> installedVersion(const fs::path& status, std::string_view package)
{
    try {
        LineReader lines(status);
        Record record;
        std::string line;
        for (bool more = true; more;) {
            more = lines.next(line);
            if (more && !line.empty()) {
                record.take(line);
                continue;
            }
            if (record.isInstalled(package))
                return record.version;
            record = {};
        }
    } catch (const std::exception&) {
        // an unreadable status file records nothing
    }
    return std::nullopt;
}

} // namespace

fs::path adminDir()
{
    if (const char* value = std::getenv("KORVEL_DPKG_ADMINDIR"); value && value[0] == '/')
        return value;
    return "/var/lib/dpkg";
}

std::optional<std::string> versionOwning(std::string_view package, const fs::path& file, const fs::path& adminDir)
{
    if (!listsFile(adminDir / "info" / (std::string(package) + ".list"), file.string()))
        return std::nullopt;
    // The status file of a desktop system runs to megabytes and every profile's check asks: read it once per
    // change of the file.
    static FileMemo<std::string> memo;
    const fs::path status = adminDir / "status";
    return memo.get(
        status, [&status, package] { return installedVersion(status, package); }, package);
}

} // namespace korvel::DpkgDatabase
