#include "core/support/SafeFolder.hpp"

#include "core/support/DescriptorIo.hpp"
#include "core/support/FileError.hpp"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace korvel {
namespace {

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Copies the rest of `from` into `to`; errno tells why when it returns false.
bool copyData(int from, int to)
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (!DescriptorIo::writeAll(to, std::string_view(buffer, static_cast<size_t>(n))))
            return false;
    }
}

std::string temporaryName(const std::string& name)
{
    static thread_local std::mt19937_64 random {std::random_device {}()};
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
    return "." + name + ".korvel-" + suffix;
}

// Moves `from` to `to` inside the folder unless something is at `to`. A hard link and an unlink where the file
// system cannot rename without replacing.
int renameNoReplace(int folder, const std::string& from, const std::string& to)
{
    if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::linkat(folder, from.c_str(), folder, to.c_str(), 0) != 0)
        return errno;
    ::unlinkat(folder, from.c_str(), 0);
    return 0;
}

void removeBelow(int folder, const std::string& name, const std::filesystem::path& shown)
{
    if (::unlinkat(folder, name.c_str(), 0) == 0 || errno == ENOENT)
        return;
    if (errno != EISDIR && errno != EPERM)
        FileError::throwRemove(shown, errno);
    const int fd = ::openat(folder, name.c_str(), folderFlags);
    if (fd < 0)
        FileError::throwRemove(shown, errno);
    DIR* directory = ::fdopendir(fd);
    if (!directory) {
        ::close(fd);
        FileError::throwRemove(shown, errno);
    }
    std::vector<std::string> entries;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string entryName = entry->d_name;
        if (entryName != "." && entryName != "..")
            entries.push_back(entryName);
    }
    try {
        for (const std::string& entry : entries)
            removeBelow(::dirfd(directory), entry, shown / entry);
    } catch (...) {
        ::closedir(directory);
        throw;
    }
    ::closedir(directory);
    if (::unlinkat(folder, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
        FileError::throwRemove(shown, errno);
}

} // namespace

SafeFolder SafeFolder::open(const std::filesystem::path& folder)
{
    const int fd = ::open(folder.c_str(), folderFlags);
    if (fd < 0)
        FileError::throwRead(folder, errno);
    return SafeFolder(fd, folder);
}

SafeFolder::SafeFolder(SafeFolder&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_path(std::move(other.m_path))
{ }

SafeFolder& SafeFolder::operator=(SafeFolder&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
    }
    return *this;
}

SafeFolder::~SafeFolder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

SafeFolder SafeFolder::descend(const std::filesystem::path& relative, mode_t mode) const
{
    SafeFolder current(::fcntl(m_fd, F_DUPFD_CLOEXEC, 0), m_path);
    if (current.m_fd < 0)
        FileError::throwWrite(m_path, errno);
    for (const auto& part : relative) {
        const std::string name = part.string();
        if (name.empty() || name == ".")
            continue;
        const std::filesystem::path path = current.m_path / name;
        if (name == "..")
            FileError::throwWrite(path, EINVAL);
        int fd = ::openat(current.m_fd, name.c_str(), folderFlags);
        const bool made = fd < 0 && errno == ENOENT && ::mkdirat(current.m_fd, name.c_str(), mode) == 0;
        if (fd < 0 && !made && errno != ENOENT && errno != EEXIST)
            FileError::throwWrite(path, errno == ELOOP ? ENOTDIR : errno);
        if (fd < 0)
            fd = ::openat(current.m_fd, name.c_str(), folderFlags); // made here, or by someone else meanwhile
        if (fd < 0)
            FileError::throwWrite(path, errno == ELOOP ? ENOTDIR : errno);
        current = SafeFolder(fd, path);
        if (made)
            current.setMode(mode); // mkdir's mode passed through the umask
    }
    return current;
}

std::string SafeFolder::writeTemporaryCopy(int source, const std::string& name) const
{
    const std::filesystem::path target = m_path / name;
    struct stat info
    { };
    if (::fstat(source, &info) != 0)
        FileError::throwRead(target, errno);
    std::string temporary = temporaryName(name);
    const int fd = ::openat(m_fd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        FileError::throwWrite(target, errno);
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    int error = 0;
    if (!copyData(source, fd) || ::fchmod(fd, info.st_mode & 07777) != 0 || ::futimens(fd, times) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0)
        return temporary;
    discard(temporary);
    FileError::throwWrite(target, error);
}

void SafeFolder::publish(const std::string& temporary, const std::string& name) const
{
    const int error = renameNoReplace(m_fd, temporary, name);
    if (error == 0)
        return;
    discard(temporary);
    if (error == EEXIST)
        throw FileError(FileError::Kind::WriteFileExists, m_path / name, EEXIST);
    FileError::throwWrite(m_path / name, error);
}

void SafeFolder::discard(const std::string& temporary) const
{
    ::unlinkat(m_fd, temporary.c_str(), 0);
}

void SafeFolder::syncEntries() const
{
    if (::fsync(m_fd) != 0)
        FileError::throwWrite(m_path, errno);
}

void SafeFolder::syncFileSystem() const
{
    if (::syncfs(m_fd) != 0)
        FileError::throwWrite(m_path, errno);
}

void SafeFolder::remove(const std::string& name) const
{
    removeBelow(m_fd, name, m_path / name);
}

void SafeFolder::setMode(mode_t mode) const
{
    if (::fchmod(m_fd, mode) != 0)
        FileError::throwWrite(m_path, errno);
}

} // namespace korvel
