#include "core/support/FileLock.hpp"
#include "core/support/FileError.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/Thrown.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace korvel;
using namespace korvel::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// Another process that takes the lock through FileLock, as a second Korvel or a `korvel` command does, and holds
// it until released or killed. Started while this process holds no lock (a child inherits what its parent holds).
class OtherProcess
{
public:
    explicit OtherProcess(const fs::path& file)
    {
        int ready[2], release[2];
        if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        m_pid = ::fork();
        if (m_pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::close(ready[0]);
            ::close(release[1]);
            try {
                const FileLock lock(file);
                char byte = 'L';
                if (::write(ready[1], &byte, 1) == 1)
                    (void)::read(release[0], &byte, 1); // until the parent closes its end
            } catch (...) {
                ::_exit(1);
            }
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        m_release = release[1];
        pollfd reply {ready[0], POLLIN, 0};
        char byte = 0;
        m_holds = ::poll(&reply, 1, 10'000) == 1 && ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
    }
    ~OtherProcess() { end(SIGKILL); }
    OtherProcess(const OtherProcess&) = delete;
    OtherProcess& operator=(const OtherProcess&) = delete;

    bool holds() const { return m_holds; }
    // Lets it drop the lock and end (0), or kills it, which must drop the lock just as well.
    void release() { end(0); }
    void kill() { end(SIGKILL); }

private:
    void end(int signal)
    {
        if (m_pid <= 0)
            return;
        if (signal)
            ::kill(m_pid, signal);
        ::close(m_release);
        // A child that does not end by itself fails the test rather than hanging it.
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (::waitpid(m_pid, nullptr, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the other process did not end";
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(5ms);
        }
        m_pid = 0;
    }

    pid_t m_pid = 0;
    int m_release = -1;
    bool m_holds = false;
};

// Whether anyone could take even a shared lock on `file` now (a fresh open file, so this process's own lock counts
// as someone else's).
bool sharedLockFree(const fs::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    const bool free = fd >= 0 && ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

TEST(FileLock, OneProcessHoldsItAtATimeAndItsEndReleasesIt)
{
    TempDir dir;
    const fs::path file = dir / "support/.profiles.lock";
    auto other = std::make_unique<OtherProcess>(file);
    ASSERT_TRUE(other->holds());
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(modeOf(file.parent_path()), 0700u);
    EXPECT_FALSE(sharedLockFree(file)) << "held exclusively";

    int waits = 0;
    const auto refused = thrown<FileError>([&] { const FileLock lock(file, 100ms, [&waits] { ++waits; }); });
    EXPECT_EQ(refused.kind(), FileError::Kind::WriteUnknown);
    EXPECT_EQ(refused.path(), file);
    EXPECT_EQ(waits, 1);

    // Taken as soon as the other lets go, while waiting.
    waits = 0;
    {
        const FileLock lock(file, 10s, [&] {
            ++waits;
            other->release();
        });
        EXPECT_EQ(waits, 1);
        EXPECT_FALSE(sharedLockFree(file));
    }
    EXPECT_TRUE(sharedLockFree(file));

    other = std::make_unique<OtherProcess>(file);
    ASSERT_TRUE(other->holds());
    other->kill();
    EXPECT_NO_THROW(FileLock(file, 0ms)) << "a killed holder holds nothing";
}

TEST(FileLock, TakenAgainInOneProcessItIsHeldUntilTheLastOneGoes)
{
    TempDir dir;
    const fs::path file = dir / ".lock";
    {
        const FileLock outer(file);
        {
            const FileLock inner(file, 0ms);
        }
        EXPECT_FALSE(sharedLockFree(file)) << "still held by the outer one";
    }
    EXPECT_TRUE(sharedLockFree(file));
    EXPECT_TRUE(OtherProcess(file).holds());
}

} // namespace
