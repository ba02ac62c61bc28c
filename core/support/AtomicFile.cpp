#include "core/support/AtomicFile.hpp"

#include "core/support/DescriptorIo.hpp"

#include "core/support/FileError.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace korvel::AtomicFile {
namespace {

mode_t currentUmask()
{
    // umask can only be read by setting it; put it back at once.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

void syncFolder(const std::filesystem::path& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

void write(const std::filesystem::path& target, std::string_view bytes)
{
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::string pattern = (folder / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');

    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        FileError::throwWrite(target, errno);

    struct stat existing
    { };
    const mode_t mode = ::stat(target.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : (0666 & ~currentUmask());

    const auto fail = [&](int error) {
        ::close(fd);
        ::unlink(name.data());
        FileError::throwWrite(target, error);
    };
    if (!DescriptorIo::writeAll(fd, bytes))
        fail(errno);
    if (::fchmod(fd, mode) != 0)
        fail(errno);
    if (::fsync(fd) != 0)
        fail(errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(name.data());
        FileError::throwWrite(target, error);
    }
    if (::rename(name.data(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(name.data());
        FileError::throwWrite(target, error);
    }
    syncFolder(folder);
}

int openForReading(const std::filesystem::path& path, int flags)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | flags);
    if (fd < 0)
        FileError::throwRead(path, errno);
    struct stat info
    { };
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        FileError::throwRead(path, error);
    }
    if (S_ISDIR(info.st_mode)) {
        ::close(fd);
        FileError::throwRead(path, EISDIR);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        throw FileError(FileError::Kind::ReadUnknown, path, 0, "it isn’t a regular file");
    }
    return fd;
}

std::string read(const std::filesystem::path& path)
{
    const int fd = openForReading(path);
    std::string bytes;
    if (!DescriptorIo::readAll(fd, bytes)) {
        const int error = errno;
        ::close(fd);
        FileError::throwRead(path, error);
    }
    ::close(fd);
    return bytes;
}

} // namespace korvel::AtomicFile
