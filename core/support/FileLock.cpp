#include "core/support/FileLock.hpp"

#include "core/support/Directories.hpp"
#include "core/support/FileError.hpp"

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace korvel {
namespace {

struct Held
{
    int fd = -1;
    int count = 0;
};

std::mutex heldMutex;
std::map<std::filesystem::path, Held> held; // the locks this process holds, by file

// Takes the lock on the open file; false when `wait` ran out first.
bool acquire(int fd, std::optional<std::chrono::milliseconds> wait, const std::function<void()>& waiting)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    if (errno != EWOULDBLOCK)
        return false;
    if (waiting)
        waiting();
    if (!wait) {
        while (::flock(fd, LOCK_EX) != 0) {
            if (errno != EINTR)
                return false;
        }
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + *wait;
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK)
            return false;
    }
    errno = EWOULDBLOCK;
    return false;
}

} // namespace

FileLock::FileLock(
    std::filesystem::path file, std::optional<std::chrono::milliseconds> wait, const std::function<void()>& waiting)
    : m_file(std::move(file))
{
    const std::lock_guard guard(heldMutex);
    if (const auto it = held.find(m_file); it != held.end()) {
        ++it->second.count;
        return;
    }
    Directories::create(m_file.parent_path(), 0700);
    const int fd = ::open(m_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        FileError::throwWrite(m_file, errno);
    if (!acquire(fd, wait, waiting)) {
        const int reason = errno;
        ::close(fd);
        if (reason == EWOULDBLOCK)
            throw FileError(FileError::Kind::WriteUnknown, m_file, reason, "another program holds it");
        FileError::throwWrite(m_file, reason);
    }
    held[m_file] = Held {fd, 1};
}

FileLock::~FileLock()
{
    const std::lock_guard guard(heldMutex);
    const auto it = held.find(m_file);
    if (--it->second.count > 0)
        return;
    ::close(it->second.fd); // releases the lock
    held.erase(it);
}

} // namespace korvel
