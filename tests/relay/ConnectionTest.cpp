#include "relay/Connection.hpp"
#include "tests/relay/WaylandStream.hpp"

#include <array>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvel::relay {
namespace {

using test::wire;

struct SocketPair
{
    int ours = -1;
    int relays = -1;
    SocketPair()
    {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds), 0);
        ours = fds[0];
        relays = fds[1];
    }
    ~SocketPair() { ::close(ours); }
};

void sendWith(int socket, const std::string& bytes, const std::vector<int>& fds)
{
    ASSERT_EQ(test::sendWithDescriptors(socket, bytes, fds), static_cast<ssize_t>(bytes.size()));
}

// Everything readable now: the bytes, and per descriptor received the byte offset it came with and its inode.
struct Received
{
    std::string bytes;
    std::vector<std::pair<size_t, ino_t>> fds;
};

Received receiveAll(int socket)
{
    Received received;
    while (true) {
        std::array<char, 4096> buffer;
        iovec vector {buffer.data(), buffer.size()};
        std::array<char, CMSG_SPACE(sizeof(int) * 28)> control {};
        msghdr message {};
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        message.msg_control = control.data();
        message.msg_controllen = control.size(); // libwayland's own limit: more would be cut off
        const ssize_t count = ::recvmsg(socket, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (count <= 0)
            return received;
        EXPECT_FALSE(message.msg_flags & MSG_CTRUNC) << "descriptors were cut off";
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
            const size_t fds = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (size_t index = 0; index < fds; ++index) {
                int fd;
                std::memcpy(&fd, CMSG_DATA(header) + index * sizeof(int), sizeof fd);
                struct stat status
                { };
                ::fstat(fd, &status);
                received.fds.emplace_back(received.bytes.size(), status.st_ino);
                ::close(fd);
            }
        }
        received.bytes.append(buffer.data(), static_cast<size_t>(count));
    }
}

std::vector<int> pipes(size_t count, std::vector<ino_t>& inodes)
{
    std::vector<int> ends;
    for (size_t index = 0; index < count; ++index) {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        struct stat status
        { };
        ::fstat(fds[0], &status);
        inodes.push_back(status.st_ino);
        ends.push_back(fds[0]);
        ::close(fds[1]);
    }
    return ends;
}

TEST(ConnectionTest, DescriptorsReachThePeerInOrderNoLaterThanTheirMessages)
{
    SocketPair client, compositor;
    Connection connection(client.relays, compositor.relays, "profile");
    std::string reason;
    std::vector<ino_t> sentInodes;
    std::string expected;
    std::vector<size_t> messageEnds; // where the message each descriptor belongs to ends in the stream
    // One message with a single descriptor, one with more than a peer may take in one read, and a message whose
    // descriptor arrives while the message before it is still incomplete.
    for (const size_t count : {size_t {1}, size_t {40}, size_t {2}}) {
        const std::string message = wire(20, 1, {static_cast<uint32_t>(count), std::string("fds")});
        const auto fds = pipes(count, sentInodes);
        sendWith(client.ours, message.substr(0, 6), fds);
        ASSERT_TRUE(connection.relay(connection.client, reason)) << reason;
        sendWith(client.ours, message.substr(6), {});
        ASSERT_TRUE(connection.relay(connection.client, reason)) << reason;
        for (const int fd : fds)
            ::close(fd);
        expected += message;
        messageEnds.insert(messageEnds.end(), count, expected.size());
    }
    const Received received = receiveAll(compositor.ours);
    EXPECT_EQ(received.bytes, expected);
    ASSERT_EQ(received.fds.size(), sentInodes.size());
    for (size_t index = 0; index < sentInodes.size(); ++index) {
        EXPECT_EQ(received.fds[index].second, sentInodes[index]) << "descriptor " << index << " out of order";
        EXPECT_LT(received.fds[index].first, messageEnds[index]) << "descriptor " << index << " after its message";
    }
}

TEST(ConnectionTest, AMalformedStreamEndsTheConnectionWithItsReason)
{
    SocketPair client, compositor;
    Connection connection(client.relays, compositor.relays, "profile");
    std::string reason;
    sendWith(compositor.ours, wire(1, 1, {}), {});
    EXPECT_FALSE(connection.relay(connection.compositor, reason));
    EXPECT_NE(reason.find("compositor"), std::string::npos) << reason;
    EXPECT_NE(reason.find("ends inside an argument"), std::string::npos) << reason;
}

} // namespace
} // namespace korvel::relay
