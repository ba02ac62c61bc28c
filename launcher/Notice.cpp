#include "launcher/Notice.hpp"

#include "launcher/LaunchArguments.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korvel::launcher::Notice {

namespace {

void writeAll(int fd, const std::string& bytes)
{
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return;
        written += static_cast<size_t>(count);
    }
}

// The grandchild: its own session, no terminal, nothing of ours held open.
[[noreturn]] void runDetached(std::vector<char*>& command)
{
    ::setsid();
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
    }
    ::close_range(3, ~0U, 0);
    ::execv(command[0], command.data());
    ::_exit(127);
}

// Double fork: the intermediate child exits at once, so the launcher reaps it right away and the process
// that shows the notification belongs to init, never to us.
void spawnDetached(std::vector<std::string> command)
{
    std::vector<char*> vector = LaunchArguments::vector(command);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::fork() == 0)
            runDetached(vector);
        ::_exit(0);
    }
    if (child > 0) {
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) { }
    }
}

// The program that posts the notification; a test names a stand-in that records its arguments.
const char* gdbusProgram()
{
    const char* override = std::getenv("KORVEL_GDBUS");
    return override && *override ? override : gdbusPath;
}

} // namespace

void fail(const std::string& message)
{
    writeAll(STDERR_FILENO, "KorvelLauncher: " + message + "\n");
    // Without gdbus there is nobody to show the notice; the line above stays the report.
    if (::access(gdbusProgram(), X_OK) == 0)
        spawnDetached(notifyCommand(message));
    std::exit(1);
}

std::string text(const std::string& message)
{
    return message + "\n\nOpen Korvel and choose \u201CRebuild App\u201D for this profile.";
}

std::vector<std::string> notifyCommand(const std::string& message)
{
    // Every value carries its type, so the call is well-formed even when the server cannot be introspected.
    return {gdbusProgram(), "call", "--session", "--dest", "org.freedesktop.Notifications", "--object-path",
        "/org/freedesktop/Notifications", "--method", "org.freedesktop.Notifications.Notify",
        variantString("Korvel"), // application name
        "uint32 0", // replaces no earlier notification
        variantString(""), // no icon
        variantString("Korvel"), // summary
        variantString(text(message)), // body
        "@as ['ok', 'OK']", // one action: the button "OK"
        "@a{sv} {}", // no hints
        "int32 0"}; // never expires
}

std::string variantString(std::string_view text)
{
    std::string literal = "'";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\'' || c == '\\') {
            literal += '\\';
            literal += c;
        } else if (c == '\n') {
            literal += "\\n";
        } else if (byte < 0x20 || byte == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            literal += escape;
        } else {
            literal += c;
        }
    }
    return literal + "'";
}

} // namespace korvel::launcher::Notice
