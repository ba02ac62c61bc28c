#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace korvel {

// An open folder for work that must stay inside it: every step below it is taken without following a link, so
// that a link put into a profile's folder never leads a write, a removal or a mode change out of it.
class SafeFolder
{
public:
    // Opens the folder; a link in its place is refused (the link itself, not what it points to). Throws FileError
    // (ReadUnknown / ReadNoSuchFile).
    static SafeFolder open(const std::filesystem::path& folder);

    SafeFolder(SafeFolder&& other) noexcept;
    SafeFolder& operator=(SafeFolder&& other) noexcept;
    SafeFolder(const SafeFolder&) = delete;
    SafeFolder& operator=(const SafeFolder&) = delete;
    ~SafeFolder();

    const std::filesystem::path& path() const { return m_path; }

    // The folder `relative` below this one, creating missing folders with exactly `mode` (an existing one is only
    // opened). Throws FileError
    // (WriteUnknown with the path; ENOTDIR or ELOOP when something other than a folder is in the way).
    SafeFolder descend(const std::filesystem::path& relative, mode_t mode) const;
    // Writes a copy of the open regular file `source` (data, mode, times) to a new temporary name beside `name` and
    // returns that name. Nothing is flushed and nothing is at `name` yet: see publish. Throws FileError
    // (WriteUnknown naming `name`), and the temporary file is gone.
    std::string writeTemporaryCopy(int source, const std::string& name) const;
    // Moves the temporary file to `name` unless something is there, so that no one ever sees part of a file under
    // its name. Throws FileError (WriteFileExists when something is there; WriteUnknown); the temporary file is
    // gone either way.
    void publish(const std::string& temporary, const std::string& name) const;
    // Removes a temporary file that will not be published. Never throws.
    void discard(const std::string& temporary) const;
    // Flushes this folder's own entries to disk (new names in it). Throws FileError (WriteUnknown).
    void syncEntries() const;
    // Flushes everything written to the file system this folder lies on. Throws FileError (WriteUnknown).
    void syncFileSystem() const;
    // Removes the entry `name`, whatever it is (a link itself, never what it points to; a folder with everything
    // in it). Throws FileError (RemoveUnknown).
    void remove(const std::string& name) const;
    // Gives this folder exactly `mode`. Throws FileError (WriteUnknown).
    void setMode(mode_t mode) const;

private:
    SafeFolder(int fd, std::filesystem::path path)
        : m_fd(fd)
        , m_path(std::move(path))
    { }

    int m_fd = -1;
    std::filesystem::path m_path;
};

} // namespace korvel
