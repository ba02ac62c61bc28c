#include "relay/RelayServer.hpp"
#include "tests/relay/WaylandStream.hpp"
#include "tests/support/TempDir.hpp"

#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace korvel::relay {
namespace {

using test::wire;

int listenAt(const std::string& path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(fd, 64), 0);
    return fd;
}

// `length` bytes from `fd`, or what came within five seconds.
std::string readBytes(int fd, size_t length)
{
    std::string bytes;
    pollfd entry {fd, POLLIN, 0};
    while (bytes.size() < length && ::poll(&entry, 1, 5000) == 1) {
        char buffer[4096];
        const ssize_t count = ::read(fd, buffer, std::min(sizeof buffer, length - bytes.size()));
        if (count <= 0)
            break;
        bytes.append(buffer, static_cast<size_t>(count));
    }
    return bytes;
}

// A connection made to `listener` within five seconds, or -1.
int acceptWithin(int listener)
{
    pollfd entry {listener, POLLIN, 0};
    return ::poll(&entry, 1, 5000) == 1 ? ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
}

bool endsWithin(int fd)
{
    pollfd entry {fd, POLLIN, 0};
    char byte;
    return ::poll(&entry, 1, 5000) == 1 && ::read(fd, &byte, 1) == 0;
}

TEST(RelayServerTest, ManyClientsEachGetTheirOwnCompositorConnectionAndTheServerEndsWithTheLast)
{
    const test::TempDir temp;
    const int compositor = listenAt((temp / "compositor").string());
    std::atomic<int> activations = 0, deactivations = 0;
    RelayServer server({listenAt((temp / "relay").string()), (temp / "compositor").string(), "com.example.work", -1,
        [&](bool active) { ++(active ? activations : deactivations); }, [](const std::string&) {}});
    std::thread loop([&] { server.run(); });

    constexpr size_t count = 24;
    std::vector<int> clients, far;
    const std::string setAppId = wire(5, 3, {std::string("Claude")});
    for (size_t index = 0; index < count; ++index) {
        clients.push_back(connectTo((temp / "relay").string()));
        ASSERT_GE(clients.back(), 0);
        // A client whose messages each carry its number as the registry's name.
        const std::string stream = wire(1, 1, {2u}) +
            wire(2, 0, {static_cast<uint32_t>(index), std::string("xdg_wm_base"), 5u, 3u}) + wire(3, 2, {4u, 10u}) +
            wire(4, 1, {5u}) + setAppId;
        ASSERT_EQ(::write(clients.back(), stream.data(), stream.size()), static_cast<ssize_t>(stream.size()));
        far.push_back(acceptWithin(compositor));
        const std::string expected =
            stream.substr(0, stream.size() - setAppId.size()) + wire(5, 3, {std::string("com.example.work")});
        EXPECT_EQ(readBytes(far.back(), expected.size()), expected) << "client " << index;
    }

    // One client's window becomes active, then another's: the profile stays active; then none is.
    std::string states;
    WireWriter::word(states, 0);
    WireWriter::word(states, 0);
    const std::string active = WireMessage::encode(5, 0, states + test::wireArray({4}));
    const std::string inactive = WireMessage::encode(5, 0, states + test::wireArray({}));
    for (const auto& [index, event] :
        std::vector<std::pair<size_t, std::string>> {{3, active}, {7, active}, {3, inactive}, {7, inactive}}) {
        ASSERT_EQ(::write(far[index], event.data(), event.size()), static_cast<ssize_t>(event.size()));
        EXPECT_EQ(readBytes(clients[index], event.size()), event);
    }
    // The report follows the event the client already has.
    for (int attempt = 0; attempt < 500 && deactivations == 0; ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(activations, 1);
    EXPECT_EQ(deactivations, 1);

    // The compositor ending one connection ends that client's; the others go on until their clients leave.
    ::close(far[0]);
    EXPECT_TRUE(endsWithin(clients[0]));
    for (size_t index = 1; index < count; ++index) {
        ::close(clients[index]);
        EXPECT_TRUE(endsWithin(far[index])) << index;
        ::close(far[index]);
    }
    loop.join();
    ::close(clients[0]);
    ::close(compositor);
}

TEST(RelayServerTest, WhileClaudeRunsAConnectionThatCameAndWentDoesNotEndTheServer)
{
    const test::TempDir temp;
    const int compositor = listenAt((temp / "compositor").string());
    int release[2];
    ASSERT_EQ(::pipe2(release, O_CLOEXEC), 0);
    const pid_t claude = ::fork();
    if (claude == 0) {
        char byte;
        ::close(release[1]);
        ::_exit(static_cast<int>(::read(release[0], &byte, 1)));
    }
    ::close(release[0]);
    RelayServer server({listenAt((temp / "relay").string()), (temp / "compositor").string(), "com.example.work",
        static_cast<int>(::syscall(SYS_pidfd_open, claude, 0)), {}, [](const std::string&) {}});
    std::thread loop([&] { server.run(); });
    // Chromium looks whether a Wayland display answers before it connects for good.
    ::close(connectTo((temp / "relay").string()));
    ::close(acceptWithin(compositor));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int client = connectTo((temp / "relay").string());
    const std::string sync = wire(1, 0, {2u});
    ASSERT_EQ(::write(client, sync.data(), sync.size()), static_cast<ssize_t>(sync.size()));
    const int far = acceptWithin(compositor);
    EXPECT_GE(far, 0) << "the relay ended after the first connection";
    EXPECT_EQ(readBytes(far, sync.size()), sync);
    // Claude ends while a helper of it is still connected: the server waits for that connection.
    ::close(release[1]);
    ::waitpid(claude, nullptr, 0);
    ::close(client);
    EXPECT_TRUE(endsWithin(far));
    loop.join();
    ::close(far);
    ::close(compositor);
}

} // namespace
} // namespace korvel::relay
