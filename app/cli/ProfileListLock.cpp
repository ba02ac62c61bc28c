#include "app/cli/ProfileListLock.hpp"

#include "core/support/Directories.hpp"
#include "core/support/FileError.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace korvel {

ProfileListLock::ProfileListLock(const std::filesystem::path& supportDir, const std::function<void()>& waiting)
{
    Directories::create(supportDir, 0700);
    const std::filesystem::path file = supportDir / fileName;
    m_fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0)
        FileError::throwWrite(file, errno);
    if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
        return;
    if (waiting)
        waiting();
    while (::flock(m_fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int reason = errno;
            ::close(m_fd);
            FileError::throwWrite(file, reason);
        }
    }
}

ProfileListLock::~ProfileListLock()
{
    ::close(m_fd); // releases the lock
}

} // namespace korvel
