#include "core/system/DpkgDatabase.hpp"

#include "core/support/AtomicFile.hpp"
#include "core/support/FileMemo.hpp"

#include <cstdlib>

namespace korvel::DpkgDatabase {
namespace {

namespace fs = std::filesystem;

std::optional<std::string> readText(const fs::path& file)
{
    try {
        return AtomicFile::read(file);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool listsFile(std::string_view list, const std::string& file)
{
    while (!list.empty()) {
        const size_t end = std::min(list.find('\n'), list.size());
        if (list.substr(0, end) == file)
            return true;
        list.remove_prefix(std::min(end + 1, list.size()));
    }
    return false;
}

// The value of `field` in one paragraph of the status file (fields are "Name: value" lines).
std::optional<std::string_view> field(std::string_view paragraph, std::string_view name)
{
    while (!paragraph.empty()) {
        const size_t end = std::min(paragraph.find('\n'), paragraph.size());
        std::string_view line = paragraph.substr(0, end);
        paragraph.remove_prefix(std::min(end + 1, paragraph.size()));
        if (line.size() > name.size() && line.starts_with(name) && line[name.size()] == ':') {
            line.remove_prefix(name.size() + 1);
            while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
                line.remove_prefix(1);
            while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
                line.remove_suffix(1);
            return line;
        }
    }
    return std::nullopt;
}

std::optional<std::string> installedVersion(std::string_view status, std::string_view package)
{
    // Paragraphs are separated by blank lines; each begins with its Package field in dpkg's own files, but any
    // order is accepted.
    while (!status.empty()) {
        const size_t end = std::min(status.find("\n\n"), status.size());
        const std::string_view paragraph = status.substr(0, end);
        status.remove_prefix(std::min(end + 2, status.size()));
        if (field(paragraph, "Package") != package)
            continue;
        const auto state = field(paragraph, "Status");
        const auto version = field(paragraph, "Version");
        if (state && state->ends_with(" installed") && version && !version->empty())
            return std::string(*version);
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
    const auto list = readText(adminDir / "info" / (std::string(package) + ".list"));
    if (!list || !listsFile(*list, file.string()))
        return std::nullopt;
    // The status file of a desktop system runs to megabytes and every profile's check asks: read it once per
    // change of the file.
    static FileMemo<std::string> memo;
    const fs::path status = adminDir / "status";
    return memo.get(
        status,
        [&status, package] {
            const auto text = readText(status);
            return text ? installedVersion(*text, package) : std::nullopt;
        },
        package);
}

} // namespace korvel::DpkgDatabase
