// Round trips (wl_display.sync answered by wl_callback.done and wl_display.delete_id) straight to a compositor and
// through KorvelRelay, in the same run, and the relay's memory per connection. The compositor is a small one of
// ours that answers only sync, so that the figures show the relay's own cost rather than a compositor's.
//
//     WaylandRelayBench [round trips, default 20000] [connections for the memory figure, default 200]

#include "relay/RelayServer.hpp"
#include "relay/WireMessage.hpp"
#include "tests/support/TempDir.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace korvel;

namespace {

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

std::string message(uint32_t object, uint16_t opcode, uint32_t argument)
{
    std::string body;
    relay::WireWriter::word(body, argument);
    return relay::WireMessage::encode(object, opcode, body);
}

// Answers every wl_display.sync of every client until `stop` is readable.
void compositor(int listener, int stop)
{
    std::vector<pollfd> fds {{listener, POLLIN, 0}, {stop, POLLIN, 0}};
    std::vector<std::string> pending(2);
    while (true) {
        ::poll(fds.data(), fds.size(), -1);
        if (fds[1].revents)
            break;
        for (size_t index = 2; index < fds.size(); ++index) {
            if (!(fds[index].revents & POLLIN))
                continue;
            char buffer[4096];
            const ssize_t count = ::read(fds[index].fd, buffer, sizeof buffer);
            if (count <= 0) {
                ::close(fds[index].fd);
                fds[index].fd = -1;
                continue;
            }
            std::string& input = pending[index];
            input.append(buffer, static_cast<size_t>(count));
            std::string answer;
            while (input.size() >= 12) {
                uint32_t callback;
                std::memcpy(&callback, input.data() + 8, 4);
                answer += message(callback, 0, 1) + message(1, 1, callback);
                input.erase(0, 12);
            }
            [[maybe_unused]] const ssize_t written = ::write(fds[index].fd, answer.data(), answer.size());
        }
        if (fds[0].revents & POLLIN) {
            fds.push_back({::accept(listener, nullptr, nullptr), POLLIN, 0});
            pending.emplace_back();
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

// Median microseconds of a sync round trip on a new connection to `path`.
double roundTrip(const std::string& path, int count)
{
    const int fd = connectTo(path);
    std::vector<double> times;
    const size_t answer = 24;
    for (int index = 0; index < count; ++index) {
        const std::string sync = message(1, 0, 2);
        const auto start = std::chrono::steady_clock::now();
        if (::write(fd, sync.data(), sync.size()) != 12)
            std::exit(1);
        size_t got = 0;
        char buffer[64];
        while (got < answer) {
            const ssize_t count = ::read(fd, buffer, sizeof buffer);
            if (count <= 0)
                std::exit(1);
            got += static_cast<size_t>(count);
        }
        times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    ::close(fd);
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    return times[times.size() / 2];
}

long residentKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmRSS:"))
            return std::stol(line.substr(6));
    return -1;
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
    std::thread server(compositor, listenAt(direct), stop[0]);

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
    const double directTime = roundTrip(direct, trips), relayedTime = roundTrip(relayed, trips);
    std::printf("round trip, median: direct %.1f µs, through the relay %.1f µs (%.2f×, +%.1f µs); target ≤ %.1f µs\n",
        directTime, relayedTime, relayedTime / directTime, relayedTime - directTime, 1.2 * directTime + 50);

    const long before = residentKiB(relay);
    std::vector<int> open;
    for (int index = 0; index < connections; ++index) {
        open.push_back(connectTo(relayed));
        const std::string sync = message(1, 0, 2);
        char buffer[24];
        if (::write(open.back(), sync.data(), sync.size()) != 12 ||
            ::recv(open.back(), buffer, sizeof buffer, MSG_WAITALL) != 24)
            return 1;
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
    return relayedTime <= 1.2 * directTime + 50 ? 0 : 1;
}
