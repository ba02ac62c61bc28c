#include "core/support/DescriptorIo.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace korvel::DescriptorIo {

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool readAll(int fd, std::string& bytes)
{
    return readUpTo(fd, bytes, std::string::npos);
}

bool readUpTo(int fd, std::string& bytes, size_t limit)
{
    char buffer[65536];
    for (size_t read = 0; read < limit;) {
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, limit - read));
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.append(buffer, static_cast<size_t>(n));
        read += static_cast<size_t>(n);
    }
    return true;
}

} // namespace korvel::DescriptorIo
