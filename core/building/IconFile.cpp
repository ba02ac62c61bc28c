#include "core/building/IconFile.hpp"

#include "core/support/AtomicFile.hpp"
#include "core/support/DescriptorIo.hpp"
#include "core/system/InstalledApplications.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korvel::IconFile {
namespace {

using Clock = std::chrono::steady_clock;

// At most maxIconFileSize bytes of the file; nothing when it is larger or unreadable.
std::optional<std::string> readSmallFile(const std::filesystem::path& file)
{
    int fd = -1;
    try {
        fd = AtomicFile::openForReading(file);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    std::string bytes;
    const bool read = DescriptorIo::readUpTo(fd, bytes, InstalledApplications::maxIconFileSize + 1);
    ::close(fd);
    if (!read || bytes.size() > InstalledApplications::maxIconFileSize)
        return std::nullopt;
    return bytes;
}

// Decoding allocates for the sides a PNG declares: more than an icon needs is refused first.
bool pngFits(std::string_view png)
{
    const auto sides = Bitmap::pngSides(png);
    return sides && sides->width <= maxPngSide && sides->height <= maxPngSide;
}

// The child's address space now, from /proc (only system calls: the child of a threaded process may call little).
std::size_t addressSpace()
{
    char text[64] = {};
    const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    std::size_t pages = 0;
    for (ssize_t i = 0; i < n && text[i] >= '0' && text[i] <= '9'; ++i)
        pages = pages * 10 + static_cast<std::size_t>(text[i] - '0');
    return pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

[[noreturn]] void drawInChild(std::string_view bytes, int side, const Budget& budget, int output)
{
    const rlim_t seconds = static_cast<rlim_t>(budget.time.count() / 1000 + 1);
    const rlimit cpu {seconds, seconds};
    const rlim_t memory = addressSpace() + budget.memory;
    const rlimit space {memory, memory};
    if (::setrlimit(RLIMIT_CPU, &cpu) != 0 || ::setrlimit(RLIMIT_AS, &space) != 0)
        ::_exit(1);
    const auto image = Bitmap::decodeSvg(bytes, side);
    const bool sent = image &&
        DescriptorIo::writeAll(output,
            std::string_view(reinterpret_cast<const char*>(image->pixels()),
                static_cast<size_t>(image->bytesPerLine()) * static_cast<size_t>(image->height())));
    ::_exit(sent ? 0 : 1);
}

// Reads the child's pixels until they are all there, the child closes its end, or the deadline passes.
bool receive(int input, Bitmap& image, Clock::time_point deadline)
{
    char* data = reinterpret_cast<char*>(image.pixels());
    const size_t size = static_cast<size_t>(image.bytesPerLine()) * static_cast<size_t>(image.height());
    size_t filled = 0;
    while (filled < size) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd waiting {input, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = ::read(input, data + filled, size - filled);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        filled += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

std::optional<Bitmap> drawSvg(std::string_view bytes, int side, const Budget& budget)
{
    Bitmap image(side, side);
    if (image.isEmpty())
        return std::nullopt;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return std::nullopt;
    const auto deadline = Clock::now() + budget.time;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        drawInChild(bytes, side, budget, ends[1]);
    }
    ::close(ends[1]);
    const bool received = child > 0 && receive(ends[0], image, deadline);
    ::close(ends[0]);
    if (child < 0)
        return std::nullopt;
    if (!received)
        ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    if (!received || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return image;
}

std::optional<Bitmap> load(const std::filesystem::path& file, int svgSide, const Budget& budget)
{
    const auto bytes = readSmallFile(file);
    if (!bytes)
        return std::nullopt;
    if (file.extension() == ".svg")
        return drawSvg(*bytes, svgSide, budget);
    if (!pngFits(*bytes))
        return std::nullopt;
    return Bitmap::decodePng(*bytes);
}

} // namespace korvel::IconFile
