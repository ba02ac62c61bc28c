#include "tests/support/Fifo.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace korvel::test::Fifo {

void make(const std::filesystem::path& path)
{
    std::filesystem::create_directories(path.parent_path());
    if (::mkfifo(path.c_str(), 0600) != 0)
        throw std::runtime_error("mkfifo " + path.string() + " failed");
}

bool readsWithoutWaiting(const std::filesystem::path& fifo, const std::function<void()>& read)
{
    std::atomic<bool> done = false;
    std::thread reader([&] {
        try {
            read();
        } catch (...) { }
        done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!done && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const bool returned = done;
    while (!done) {
        // A writer that comes and goes: the reader's open returns, and its read sees the end.
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    reader.join();
    return returned;
}

} // namespace korvel::test::Fifo
