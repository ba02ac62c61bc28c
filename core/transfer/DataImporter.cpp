#include "core/transfer/DataImporter.hpp"

#include "core/model/ClaudeDesktop.hpp"
#include "core/support/AtomicFile.hpp"
#include "core/support/FileError.hpp"
#include "core/support/SafeFolder.hpp"
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
// links), the entry itself goes, never what a link points to. A copy that keeps one would hand the profile
// app over to the running Claude, so a failure here fails the import.
void removeLockEntries(const SafeFolder& folder)
{
    for (const std::string& name : DataImporter::lockFiles())
        folder.remove(name);
}

// The source with a link at its top (or anywhere in its path) resolved: the clone then makes a folder, not a
// link back into the original.
fs::path resolved(const fs::path& from)
{
    std::error_code error;
    fs::path path = fs::canonical(from, error);
    if (error)
        FileError::throwRead(from, error.value());
    return path;
}

void removeTree(const fs::path& path)
{
    std::error_code error;
    fs::remove_all(path, error); // a link is removed, not followed
    if (error)
        FileError::throwRemove(path, error.value());
}

// Whether anything is at `path`, a dangling link too.
bool isThere(const fs::path& path)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
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
    const fs::path source = resolved(from);
    clearDestination(to);
    createParent(to);
    const fs::path marker = interruptedMarker(to);
    AtomicFile::write(marker, source.string() + "\n");
    try {
        SystemTools::cloneTree(source, to);
        const SafeFolder copy = SafeFolder::open(to);
        removeLockEntries(copy);
        copy.setMode(0700);
    } catch (...) {
        // Never half a copy: the profile starts empty rather than with part of the data. Should even that fail,
        // the marker stays and the next start tries again.
        try {
            removeTree(to);
            removeTree(marker);
        } catch (const FileError&) { }
        throw;
    }
    removeTree(marker);
}

fs::path DataImporter::interruptedMarker(const fs::path& to)
{
    return fs::path(to.string() + ".import-incomplete");
}

bool DataImporter::wasInterrupted(const fs::path& to)
{
    return isThere(interruptedMarker(to));
}

void DataImporter::discardInterrupted(const fs::path& to)
{
    // The question first: a kill in between leaves both markers, and the next start discards again.
    AtomicFile::write(undecidedMarker(to), "");
    removeTree(to);
    removeTree(interruptedMarker(to));
}

fs::path DataImporter::undecidedMarker(const fs::path& to)
{
    return fs::path(to.string() + ".import-undecided");
}

bool DataImporter::awaitsDecision(const fs::path& to)
{
    return isThere(undecidedMarker(to));
}

void DataImporter::decided(const fs::path& to)
{
    removeTree(undecidedMarker(to));
}

} // namespace korvel
