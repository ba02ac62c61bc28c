#include "core/support/FileError.hpp"

#include <cstring>

namespace korvel {
namespace {

std::string reason(int errorNumber)
{
    return errorNumber != 0 ? std::string(std::strerror(errorNumber)) : std::string("unknown error");
}

std::string describe(
    FileError::Kind kind, const std::filesystem::path& path, int errorNumber, const std::string& detail)
{
    const std::string quoted = "“" + path.string() + "”";
    switch (kind) {
    case FileError::Kind::ReadNoSuchFile:
        return "The file " + quoted + " couldn’t be opened because there is no such file.";
    case FileError::Kind::ReadCorrupt:
        return "The file " + quoted + " couldn’t be read because it isn’t in the correct format" +
            (detail.empty() ? std::string(".") : ": " + detail + ".");
    case FileError::Kind::PropertyListCorrupt:
        return "The file " + quoted +
            " couldn’t be read because it isn’t a property list with a dictionary at its top" +
            (detail.empty() ? std::string(".") : ": " + detail + ".");
    case FileError::Kind::WriteFileExists:
        return "The file " + quoted + " couldn’t be saved because an item with the same name already exists.";
    case FileError::Kind::WriteUnknown:
        return "The file " + quoted + " couldn’t be saved: " + (detail.empty() ? reason(errorNumber) : detail) + ".";
    case FileError::Kind::RemoveUnknown:
        return "The item " + quoted + " couldn’t be removed: " + reason(errorNumber) + ".";
    case FileError::Kind::ReadUnknown:
        break;
    }
    return "The file " + quoted + " couldn’t be read: " + (detail.empty() ? reason(errorNumber) : detail) + ".";
}

} // namespace

FileError::FileError(Kind kind, std::filesystem::path path, int errorNumber, std::string detail)
    : std::runtime_error(describe(kind, path, errorNumber, detail))
    , m_kind(kind)
    , m_path(std::move(path))
    , m_errorNumber(errorNumber)
    , m_detail(std::move(detail))
{ }

void FileError::throwWrite(const std::filesystem::path& path, int errorNumber)
{
    throw FileError(Kind::WriteUnknown, path, errorNumber);
}

void FileError::throwRead(const std::filesystem::path& path, int errorNumber)
{
    if (errorNumber == ENOENT)
        throw FileError(Kind::ReadNoSuchFile, path, errorNumber);
    throw FileError(Kind::ReadUnknown, path, errorNumber);
}

void FileError::throwRemove(const std::filesystem::path& path, int errorNumber)
{
    throw FileError(Kind::RemoveUnknown, path, errorNumber);
}

} // namespace korvel
