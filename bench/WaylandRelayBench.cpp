// Two loops straight to a compositor and through KorvelRelay, in the same run: round trips (wl_display.sync answered
// by wl_callback.done and wl_display.delete_id) and frames (wl_surface attach, damage_buffer, frame and commit
// answered by wl_buffer.release, the frame callback's done and its delete_id, on a buffer of a wl_shm pool whose
// memfd crossed the relay); and the relay's memory per connection. The compositor is a small one of ours that
// answers only these, so that the figures show the relay's own cost rather than a compositor's.
//
//     WaylandRelayBench [round trips and frames, default 20000] [connections for the memory figure, default 200]

#include "relay/Endpoint.hpp"
#include "relay/WireMessage.hpp"
#include "tests/relay/WaylandStream.hpp"
#include "tests/support/TempDir.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
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

// What the compositor knows of one client.
struct Client
{
    explicit Client(int socket)
        : end(std::make_unique<relay::Endpoint>(socket))
    { }
    std::unique_ptr<relay::Endpoint> end;
    uint32_t frameCallback = 0;
};

// The compositor's answer to the complete messages `client` sent so far.
std::string answer(Client& client)
{
    std::string out;
    std::string& input = client.end->input;
    while (const auto header = relay::WireMessage::header(input)) {
        if (input.size() < header->size)
            break;
        relay::WireReader arguments(std::string_view(input).substr(8, header->size - 8u));
        if (header->objectId == display && header->opcode == syncRequest) {
            const uint32_t id = arguments.word();
            out += test::wire(id, done, {1u}) + test::wire(display, deleteId, {id});
        } else if (header->objectId == surface && header->opcode == frame) {
            client.frameCallback = arguments.word();
        } else if (header->objectId == surface && header->opcode == commit) {
            out += test::wire(buffer, release, {}) + test::wire(client.frameCallback, done, {1u}) +
                test::wire(display, deleteId, {client.frameCallback});
        }
        input.erase(0, header->size);
    }
    return out;
}

// Answers every client until `stop` is readable; `poolFds` counts the descriptors that arrived.
void compositor(int listener, int stop, int& poolFds)
{
    std::vector<pollfd> fds {{listener, POLLIN, 0}, {stop, POLLIN, 0}};
    std::vector<Client> clients; // clients[i] reads fds[i + 2]
    while (true) {
        ::poll(fds.data(), fds.size(), -1);
        if (fds[1].revents)
            break;
        for (size_t index = 2; index < fds.size(); ++index) {
            Client& client = clients[index - 2];
            if (!(fds[index].revents & POLLIN))
                continue;
            if (!client.end->receive()) {
                client.end.reset();
                fds[index].fd = -1;
                continue;
            }
            poolFds += static_cast<int>(client.end->inputFds.size());
            for (const int fd : std::exchange(client.end->inputFds, {}))
                ::close(fd);
            client.end->output += answer(client);
            client.end->flush();
        }
        if (fds[0].revents & POLLIN) {
            fds.push_back({::accept(listener, nullptr, nullptr), POLLIN, 0});
            clients.emplace_back(fds.back().fd);
        }
    }
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
    const double median = medianExchange(fd, test::wire(display, syncRequest, {callback}), 24, count);
    ::close(fd);
    return median;
}

// Sends wl_shm.create_pool with a memfd of `size` bytes beside it.
void createShmPool(int fd, uint32_t size)
{
    const int memory = ::memfd_create("korvel-bench-pool", MFD_CLOEXEC);
    const std::string bytes = test::wire(shm, createPool, {pool, size});
    if (memory < 0 || ::ftruncate(memory, size) != 0 ||
        test::sendWithDescriptors(fd, bytes, {memory}, MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
        std::perror("create_pool"), std::exit(1);
    ::close(memory);
}

// Median microseconds from a frame's commit to its frame callback, drawing into one 256×256 buffer of a wl_shm pool
// on a new connection to `path`.
double frames(const std::string& path, int count)
{
    constexpr uint32_t side = 256, stride = side * 4, argb8888 = 0;
    const int fd = connectTo(path);
    createShmPool(fd, stride * side);
    sendAll(fd, test::wire(pool, createBuffer, {buffer, 0u, side, side, stride, argb8888}));
    const std::string oneFrame = test::wire(surface, attach, {buffer, 0u, 0u}) +
        test::wire(surface, damageBuffer, {0u, 0u, side, side}) + test::wire(surface, frame, {callback}) +
        test::wire(surface, commit, {});
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
        sendAll(open.back(), test::wire(display, syncRequest, {callback}));
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
