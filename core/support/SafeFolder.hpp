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

    // The folder `relative` below this one, creating missing folders with exactly `mode`. Throws FileError
    // (WriteUnknown with the path; ENOTDIR or ELOOP when something other than a folder is in the way).
    SafeFolder descend(const std::filesystem::path& relative, mode_t mode) const;
    // Writes the new file `name` with the data, mode and times of the open regular file `source`: to a temporary
    // name beside it, flushed to disk, then renamed, so that no one ever sees part of it under its name. Never
    // replaces anything at `name`. Throws FileError (WriteFileExists when something is there; WriteUnknown), and
    // the temporary file is gone.
    void copyNewFile(int source, const std::string& name) const;
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
