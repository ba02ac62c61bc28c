#include "relay/Endpoint.hpp"

#include "relay/WireMessage.hpp"

#include <array>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace korvel::relay {

namespace {

// The most descriptors one message of a Unix socket can carry (the kernel's SCM_MAX_FD): a read never cuts them off.
constexpr size_t maxFdsPerRead = 253;
constexpr size_t readSize = 64 * 1024;

void closeAll(std::deque<int>& fds)
{
    for (const int fd : fds)
        ::close(fd);
    fds.clear();
}

} // namespace

Endpoint::Endpoint(int socket)
    : descriptor(socket)
{ }

Endpoint::~Endpoint()
{
    closeAll(inputFds);
    closeAll(outputFds);
    ::close(descriptor);
}

bool Endpoint::receive()
{
    std::array<char, readSize> buffer;
    iovec vector {buffer.data(), buffer.size()};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int) * maxFdsPerRead)> control {};
    msghdr message {};
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t received = ::recvmsg(descriptor, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (received > 0)
        input.append(buffer.data(), static_cast<size_t>(received));
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); received >= 0 && header; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
            continue;
        const size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t index = 0; index < count; ++index) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(header) + index * sizeof(int), sizeof fd);
            inputFds.push_back(fd);
        }
    }
    if (received < 0) {
        if (errno == EAGAIN || errno == EINTR)
            return true;
        if (errno == ECONNRESET)
            return false;
        throw ProtocolError(std::string("reading failed: ") + std::strerror(errno));
    }
    if (message.msg_flags & MSG_CTRUNC)
        throw ProtocolError("file descriptors were cut off");
    return received > 0;
}

bool Endpoint::flush()
{
    while (!output.empty()) {
        const size_t fds = std::min(outputFds.size(), fdsPerSend);
        // While more descriptors wait than one send may carry, each batch goes with a single byte.
        const size_t length = outputFds.size() > fdsPerSend ? 1 : output.size();
        iovec vector {output.data(), length};
        alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int) * fdsPerSend)> control {};
        msghdr message {};
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        if (fds > 0) {
            message.msg_control = control.data();
            message.msg_controllen = CMSG_SPACE(sizeof(int) * fds);
            cmsghdr* header = CMSG_FIRSTHDR(&message);
            header->cmsg_level = SOL_SOCKET;
            header->cmsg_type = SCM_RIGHTS;
            header->cmsg_len = CMSG_LEN(sizeof(int) * fds);
            for (size_t index = 0; index < fds; ++index)
                std::memcpy(CMSG_DATA(header) + index * sizeof(int), &outputFds[index], sizeof(int));
        }
        const ssize_t sent = ::sendmsg(descriptor, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EINTR)
                return true;
            return false;
        }
        for (size_t index = 0; index < fds; ++index) {
            ::close(outputFds.front());
            outputFds.pop_front();
        }
        output.erase(0, static_cast<size_t>(sent));
    }
    return true;
}

} // namespace korvel::relay
