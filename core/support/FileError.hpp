#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace korvel {

// A file-system failure: what went wrong, on which path, and the system's reason.
// The description is a plain sentence that names the path; it is what the user sees.
class FileError : public std::runtime_error
{
public:
    enum class Kind {
        ReadUnknown, // the file could not be read
        ReadNoSuchFile, // the file does not exist
        ReadCorrupt, // the file was read but its content is not in the expected format
        WriteUnknown, // the file or folder could not be written
        WriteFileExists, // something already exists where we would write
        RemoveUnknown, // the item could not be deleted
        PropertyListCorrupt // not a property list whose top level is a string-keyed dictionary
    };

    FileError(Kind kind, std::filesystem::path path, int errorNumber = 0, std::string detail = {});

    Kind kind() const { return m_kind; }
    const std::filesystem::path& path() const { return m_path; }
    // The underlying errno, 0 when there is none.
    int errorNumber() const { return m_errorNumber; }
    const std::string& detail() const { return m_detail; }
    std::string description() const { return what(); }

    // Throws WriteUnknown / ReadUnknown for the current errno.
    [[noreturn]] static void throwWrite(const std::filesystem::path& path, int errorNumber);
    [[noreturn]] static void throwRead(const std::filesystem::path& path, int errorNumber);
    [[noreturn]] static void throwRemove(const std::filesystem::path& path, int errorNumber);

private:
    Kind m_kind;
    std::filesystem::path m_path;
    int m_errorNumber;
    std::string m_detail;
};

} // namespace korvel
