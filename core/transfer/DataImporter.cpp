#include "core/transfer/DataImporter.hpp"

#include "core/model/ClaudeDesktop.hpp"
#include "core/support/FileError.hpp"
#include "core/system/SystemTools.hpp"

#include <cerrno>
#include <sys/stat.h>

namespace korvel {
namespace {

namespace fs = std::filesystem;

bool reachable(const fs::path& path)
{
    std::error_code error;
    return fs::exists(path, error);
}

// Step 2: an empty folder may go, anything with content stays and ends the import.
void clearDestination(const fs::path& destination)
{
    if (!reachable(destination))
        return;
    std::error_code error;
    const fs::directory_iterator it(destination, error);
    if (error)
        FileError::throwRead(destination, error.value());
    if (it != fs::directory_iterator())
        throw FileError(FileError::Kind::WriteFileExists, destination, EEXIST);
    fs::remove(destination, error);
    if (error)
        FileError::throwWrite(destination, error.value());
}

// Lock entries tie a data folder to the instance using it; whatever they are (files, live or dangling
// links), the entry itself goes, never what a link points to. Best effort.
void removeLockEntries(const fs::path& folder)
{
    for (const std::string& name : DataImporter::lockFiles()) {
        std::error_code error;
        const fs::path entry = folder / name;
        if (fs::exists(fs::symlink_status(entry, error)))
            fs::remove_all(entry, error);
    }
}

// The caller's location: default permissions, like mkdir -p.
void createParent(const fs::path& destination)
{
    if (!destination.has_parent_path())
        return;
    std::error_code error;
    fs::create_directories(destination.parent_path(), error);
    if (error)
        FileError::throwWrite(destination.parent_path(), error.value());
}

} // namespace

const std::vector<std::string>& DataImporter::lockFiles()
{
    static const std::vector<std::string> names(ClaudeDesktop::lockEntries.begin(), ClaudeDesktop::lockEntries.end());
    return names;
}

bool DataImporter::hasImportableData(const fs::path& folder)
{
    return reachable(folder / ClaudeDesktop::localState) || reachable(folder / ClaudeDesktop::configJson);
}

void DataImporter::importData(const fs::path& from, const fs::path& to)
{
    if (!hasImportableData(from))
        throw FileError(FileError::Kind::ReadNoSuchFile, from, ENOENT);
    clearDestination(to);
    createParent(to);
    SystemTools::cloneTree(from, to);
    removeLockEntries(to);
    if (::chmod(to.c_str(), 0700) != 0)
        FileError::throwWrite(to, errno);
}

} // namespace korvel
