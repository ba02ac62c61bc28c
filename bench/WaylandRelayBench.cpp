// Two loops straight to a compositor and through KorvelRelay, in the same run: round trips (wl_display.sync answered
// by wl_callback.done and wl_display.delete_id) and frames (wl_surface attach, damage_buffer, frame and commit
// answered by wl_buffer.release, the frame callback's done and its delete_id, on a buffer of a wl_shm pool whose
// memfd crossed the relay); and the relay's memory per connection. The compositor is a small one of ours that
// answers only these, so that the figures show the relay's own cost rather than a compositor's.
//
//     WaylandRelayBench [round trips and frames, default 20000] [connections for the memory figure, default 200]

#include "relay/RelayServer.hpp"
#include "relay/WireMessage.hpp"
#include "tests/support/TempDir.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace korvel;

namespace {

// The objects both ends agree on without a registry: the compositor answers by these ids alone.
constexpr uint32_t display = 1, shm = 2, pool = 3, buffer = 4, surface = 5, callback = 6;
constexpr uint16_t syncRequest = 0, createPool = 0, createBuffer = 0, attach = 1, frame = 3, commit = 6,
                   damageBuffer = 9, done = 0, release = 0, deleteId = 1;

int listenAt(const std::string& path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 512) != 0)
        std::perror(path.c_str()), std::exit(1);
    return fd;
}

std::string message(uint32_t object, uint16_t opcode, std::initializer_list<uint32_t> arguments = {})
{
    std::string body;
    for (const uint32_t argument : arguments)
        relay::WireWriter::word(body, argument);
    return relay::WireMessage::encode(object, opcode, body);
}

// What the compositor knows of one client.
struct Client
{
    int fd = -1;
    std::string input;
    uint32_t frameCallback = 0;
    int poolFds = 0;
};

// Reads what `client` sent, with its descriptors (each closed at once); false at its end.
bool receive(Client& client)
{
    char buffer[4096];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 28)];
    iovec vector {buffer, sizeof buffer};
    msghdr header {};
    header.msg_iov = &vector;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    const ssize_t count = ::recvmsg(client.fd, &header, MSG_CMSG_CLOEXEC);
    if (count <= 0)
        return false;
    for (cmsghdr* part = CMSG_FIRSTHDR(&header); part; part = CMSG_NXTHDR(&header, part)) {
        const size_t fds = (part->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t index = 0; index < fds; ++index) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(part) + index * sizeof(int), sizeof fd);
            ::close(fd);
        }
        client.poolFds += static_cast<int>(fds);
    }
    client.input.append(buffer, static_cast<size_t>(count));
    return true;
}

// The compositor's answer to the complete messages `client` sent so far.
std::string answer(Client& client)
{
    std::string out;
    while (const auto header = relay::WireMessage::header(client.input)) {
        if (client.input.size() < header->size)
            break;
        relay::WireReader arguments(std::string_view(client.input).substr(8, header->size - 8u));
        if (header->objectId == display && header->opcode == syncRequest) {
            const uint32_t id = arguments.word();
            out += message(id, done, {1}) + message(display, deleteId, {id});
        } else if (header->objectId == surface && header->opcode == frame) {
            client.frameCallback = arguments.word();
        } else if (header->objectId == surface && header->opcode == commit) {
            out += message(buffer, release) + message(client.frameCallback, done, {1}) +
                message(display, deleteId, {client.frameCallback});
        }
        client.input.erase(0, header->size);
    }
    return out;
}

// Answers every client until `stop` is readable; `poolFds` is how many descriptors arrived in all.
void compositor(int listener, int stop, int& poolFds)
{
    std::vector<pollfd> fds {{listener, POLLIN, 0}, {stop, POLLIN, 0}};
    std::vector<Client> clients(2);
    while (true) {
        ::poll(fds.data(), fds.size(), -1);
        if (fds[1].revents)
            break;
        for (size_t index = 2; index < fds.size(); ++index) {
            if (!(fds[index].revents & POLLIN))
                continue;
            if (!receive(clients[index])) {
                ::close(fds[index].fd);
                fds[index].fd = -1;
                continue;
            }
            const std::string out = answer(clients[index]);
            [[maybe_unused]] const ssize_t written = ::write(fds[index].fd, out.data(), out.size());
        }
        if (fds[0].revents & POLLIN) {
            fds.push_back({::accept(listener, nullptr, nullptr), POLLIN, 0});
            clients.emplace_back().fd = fds.back().fd;
        }
    }
    for (const Client& client : clients)
        poolFds += client.poolFds;
}

int connectTo(const std::string& path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        std::perror(path.c_str()), std::exit(1);
    return fd;
}

void sendAll(int fd, const std::string& bytes)
{
    if (::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
        std::perror("send"), std::exit(1);
}

void readExactly(int fd, size_t size)
{
    char buffer[256];
    if (size > sizeof buffer || ::recv(fd, buffer, size, MSG_WAITALL) != static_cast<ssize_t>(size))
        std::perror("recv"), std::exit(1);
}

// Median microseconds from sending `request` to having read `answerSize` bytes, over `count` repetitions.
double medianExchange(int fd, const std::string& request, size_t answerSize, int count)
{
    std::vector<double> times;
    for (int index = 0; index < count; ++index) {
        const auto start = std::chrono::steady_clock::now();
        sendAll(fd, request);
        readExactly(fd, answerSize);
        times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    return times[times.size() / 2];
}

// Median microseconds of a sync round trip on a new connection to `path`.
double roundTrip(const std::string& path, int count)
{
    const int fd = connectTo(path);
    const double median = medianExchange(fd, message(display, syncRequest, {callback}), 24, count);
    ::close(fd);
    return median;
}

// Sends wl_shm.create_pool with a memfd of `size` bytes beside it.
void createShmPool(int fd, uint32_t size)
{
    const int memory = ::memfd_create("korvel-bench-pool", MFD_CLOEXEC);
    if (memory < 0 || ::ftruncate(memory, size) != 0)
        std::perror("memfd"), std::exit(1);
    std::string bytes = message(shm, createPool, {pool, size});
    iovec vector {bytes.data(), bytes.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] {};
    msghdr header {};
    header.msg_iov = &vector;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    cmsghdr* part = CMSG_FIRSTHDR(&header);
    part->cmsg_level = SOL_SOCKET;
    part->cmsg_type = SCM_RIGHTS;
    part->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(part), &memory, sizeof memory);
    if (::sendmsg(fd, &header, MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
        std::perror("sendmsg"), std::exit(1);
    ::close(memory);
}

// Median microseconds from a frame's commit to its frame callback, drawing into one 256×256 buffer of a wl_shm pool
// on a new connection to `path`.
double frames(const std::string& path, int count)
{
    constexpr uint32_t side = 256, stride = side * 4, argb8888 = 0;
    const int fd = connectTo(path);
    createShmPool(fd, stride * side);
    sendAll(fd, message(pool, createBuffer, {buffer, 0, side, side, stride, argb8888}));
    const std::string oneFrame = message(surface, attach, {buffer, 0, 0}) +
        message(surface, damageBuffer, {0, 0, side, side}) + message(surface, frame, {callback}) +
        message(surface, commit);
    const double median = medianExchange(fd, oneFrame, 8 + 12 + 12, count);
    ::close(fd);
    return median;
}

long residentKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmRSS:"))
            return std::stol(line.substr(6));
    return -1;
}

// Prints one loop's figures; true when the relay stays within 1.2× direct plus 50 µs.
bool report(const char* loop, double direct, double relayed)
{
    const double target = 1.2 * direct + 50;
    std::printf("%s, median: direct %.1f µs, through the relay %.1f µs (%.2f×, +%.1f µs); target ≤ %.1f µs\n", loop,
        direct, relayed, relayed / direct, relayed - direct, target);
    return relayed <= target;
}

} // namespace

int main(int argc, char** argv)
{
    const int trips = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int connections = argc > 2 ? std::atoi(argv[2]) : 200;
    const test::TempDir temp;
    const std::string direct = (temp / "compositor").string(), relayed = (temp / "relay").string();
    int stop[2];
    if (::pipe(stop) != 0)
        return 1;
    int poolFds = 0;
    std::thread server(compositor, listenAt(direct), stop[0], std::ref(poolFds));

    const int listener = listenAt(relayed);
    const pid_t relay = ::fork();
    if (relay == 0) {
        const std::string fd = std::to_string(listener);
        ::execl(KORVEL_RELAY_PATH, "KorvelRelay", "--listen-fd", fd.c_str(), "--compositor", direct.c_str(), "--app-id",
            "com.example.bench", nullptr);
        ::_exit(127);
    }
    ::close(listener);
    // One long-lived client keeps the relay running between the measurements.
    const int keeper = connectTo(relayed);

    roundTrip(direct, trips / 10); // warm-up
    roundTrip(relayed, trips / 10);
    bool withinTarget = report("round trip", roundTrip(direct, trips), roundTrip(relayed, trips));
    frames(direct, trips / 10);
    frames(relayed, trips / 10);
    withinTarget &= report("frame (commit to frame callback)", frames(direct, trips), frames(relayed, trips));

    const long before = residentKiB(relay);
    std::vector<int> open;
    for (int index = 0; index < connections; ++index) {
        open.push_back(connectTo(relayed));
        sendAll(open.back(), message(display, syncRequest, {callback}));
        readExactly(open.back(), 24);
    }
    const long after = residentKiB(relay);
    std::printf("relay memory: %ld KiB with one connection, %.1f KiB more per connection (%d connections)\n", before,
        static_cast<double>(after - before) / connections, connections);

    for (const int fd : open)
        ::close(fd);
    ::close(keeper);
    int status = 0;
    ::waitpid(relay, &status, 0);
    [[maybe_unused]] const ssize_t written = ::write(stop[1], "x", 1);
    server.join();
    // Each frames() loop sent one pool descriptor: four, two of them through the relay.
    if (poolFds != 4) {
        std::printf("the compositor received %d pool descriptors instead of 4\n", poolFds);
        return 1;
    }
    return withinTarget ? 0 : 1;
}
