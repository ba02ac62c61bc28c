// A compiled stand-in for Claude's executable. A script cannot show its argument zero (the kernel hands the
// interpreter the script's path instead), so the launcher's argument zero is checked with this program.

#include "tests/support/StandInRecord.hpp"

#include "tests/support/TempDir.hpp"

#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

extern char** environ;

int main(int argc, char* argv[])
{
    const char* file = std::getenv("KORVEL_STANDIN_RECORD");
    if (!file)
        return 2;
    korvel::test::StandInRecord record;
    record.arguments.assign(argv, argv + argc);
    record.pid = ::getpid();
    record.workingDirectory = std::filesystem::current_path().string();
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        record.environment[text.substr(0, equals)] = equals == std::string::npos ? "" : text.substr(equals + 1);
    }
    korvel::test::StandInRecord::append(file, record);
    // As a Wayland client: sends the messages of that file to its display and stays until the display hangs up.
    if (const char* messages = std::getenv("KORVEL_STANDIN_WAYLAND_MESSAGES")) {
        const std::string path = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/" + std::getenv("WAYLAND_DISPLAY");
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            return 3;
        const std::string bytes = korvel::test::readText(messages);
        if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            return 4;
        char buffer[256];
        while (::read(fd, buffer, sizeof buffer) > 0) { }
    }
    return 0;
}
