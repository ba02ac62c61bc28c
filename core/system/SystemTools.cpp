#include "core/system/SystemTools.hpp"

#include "core/support/DescriptorIo.hpp"
#include "core/support/FileChecks.hpp"
#include "core/support/UnicodeText.hpp"
#include "core/system/CodeSeal.hpp"
#include "core/system/CommandError.hpp"
#include "core/system/Quarantine.hpp"
#include "core/system/TreeCloner.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

extern char** environ;

namespace korvel {
namespace {

// Closes a descriptor once, whatever way the scope is left.
struct Descriptor
{
    int fd = -1;
    Descriptor() = default;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { close(); }
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

// Reaps the child even when reading its output throws, so that no zombie stays behind.
struct Child
{
    pid_t pid = -1;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    explicit Child(pid_t id)
        : pid(id)
    { }
    ~Child()
    {
        if (pid > 0)
            waitForStatus();
    }

    // The exit code, or the number of the signal that ended the child.
    int waitForStatus()
    {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
        pid = -1;
        return WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status);
    }
};

std::string commandLine(const std::filesystem::path& path, const std::vector<std::string>& arguments)
{
    std::string command = path.string();
    for (const std::string& argument : arguments)
        command += " " + argument;
    return command;
}

// Starts `path` with stdout and stderr on `output`. posix_spawn reports a failed exec as its result,
// which becomes the launch error; the pipe's own ends are close-on-exec, so the child keeps only 1 and 2.
pid_t spawn(const std::filesystem::path& path, const std::vector<std::string>& arguments, int output)
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    ::posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, output, STDERR_FILENO);
    // A caller that ignores SIGPIPE or blocks signals in this thread must not pass that on to the tool.
    sigset_t none;
    sigset_t pipe;
    ::sigemptyset(&none);
    ::sigemptyset(&pipe);
    ::sigaddset(&pipe, SIGPIPE);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &pipe);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::system_error(error, std::generic_category(), "Couldn’t start " + path.string());
    return pid;
}

std::string readToEnd(int fd)
{
    std::string bytes;
    if (!DescriptorIo::readAll(fd, bytes))
        throw std::system_error(errno, std::generic_category(), "Couldn’t read a tool’s output");
    return bytes;
}

std::filesystem::path helpersFolder()
{
    // The library lies in Korvel.app/Contents/Frameworks; the helpers sit beside that folder.
    Dl_info info {};
    if (::dladdr(reinterpret_cast<void*>(&helpersFolder), &info) == 0 || !info.dli_fname)
        return "Helpers";
    const std::filesystem::path library = std::filesystem::absolute(info.dli_fname);
    return library.parent_path().parent_path() / "Helpers";
}

// The path as a tool argument: without a trailing slash.
std::string toolArgument(const std::filesystem::path& path)
{
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

void swallowing(const std::filesystem::path& tool, const std::vector<std::string>& arguments)
{
    try {
        SystemTools::run(tool, arguments);
    } catch (...) {
        // Best effort by design: a missing tool or a complaint must not stop the caller.
    }
}

void launchServices(const std::filesystem::path& bundle, const char* flag)
{
    swallowing(SystemTools::toolPaths().lsregister, {flag, toolArgument(bundle)});
}

} // namespace

SystemTools::ToolPaths SystemTools::toolPaths()
{
#ifdef __APPLE__
    return {"/usr/bin/codesign", "/usr/bin/xattr",
        "/System/Library/Frameworks/CoreServices.framework/Frameworks/LaunchServices.framework/Support/"
        "lsregister"};
#else
    const char* override = std::getenv("KORVEL_TOOLS_DIR");
    const std::filesystem::path folder = override && *override ? std::filesystem::path(override) : helpersFolder();
    return {folder / "codesign", folder / "xattr", folder / "lsregister"};
#endif
}

std::string SystemTools::run(const std::filesystem::path& path, const std::vector<std::string>& arguments)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw std::system_error(errno, std::generic_category(), "Couldn’t create a pipe");
    Descriptor reading;
    Descriptor writing;
    reading.fd = ends[0];
    writing.fd = ends[1];

    Child child(spawn(path, arguments, writing.fd));
    // Our copy of the write end must go, or the read below never sees end of file.
    writing.close();
    std::string bytes;
    try {
        bytes = readToEnd(reading.fd);
    } catch (...) {
        reading.close(); // lets a child still writing end with EPIPE before it is reaped
        throw;
    }
    reading.close();
    const int status = child.waitForStatus();

    std::string output = UnicodeText::replacingInvalidUtf8(bytes);
    if (status != 0)
        throw CommandError(commandLine(path, arguments), status, std::move(output));
    return output;
}

void SystemTools::cloneTree(const std::filesystem::path& source, const std::filesystem::path& destination)
{
    TreeCloner::clone(source, destination);
}

bool SystemTools::isOwnHelper(const std::filesystem::path& tool)
{
#ifdef __APPLE__
    (void)tool;
    return false;
#else
    const auto resolved = FileChecks::resolved(tool);
    return resolved && resolved == FileChecks::resolved(helpersFolder() / "korvel-tool");
#endif
}

void SystemTools::removeQuarantine(const std::filesystem::path& bundle)
{
    const std::filesystem::path tool = toolPaths().xattr;
    if (isOwnHelper(tool))
        Quarantine::removeRecursively(toolArgument(bundle)); // best effort, like the tool
    else
        swallowing(tool, {"-dr", "com.apple.quarantine", toolArgument(bundle)});
}

void SystemTools::adHocSign(const std::filesystem::path& bundle)
{
    const std::filesystem::path tool = toolPaths().codesign;
    const std::vector<std::string> arguments {"--force", "--deep", "--sign", "-", toolArgument(bundle)};
    if (!isOwnHelper(tool)) {
        run(tool, arguments);
        return;
    }
    try {
        CodeSeal::sign(toolArgument(bundle));
    } catch (const std::exception& error) {
        // What the tool would have printed and exited with.
        throw CommandError(commandLine(tool, arguments), 1, "codesign: " + std::string(error.what()) + "\n");
    }
}

void SystemTools::verifySignature(const std::filesystem::path& bundle)
{
    const std::filesystem::path tool = toolPaths().codesign;
    const std::vector<std::string> arguments {"--verify", "--deep", "--strict", toolArgument(bundle)};
    if (!isOwnHelper(tool)) {
        run(tool, arguments);
        return;
    }
    std::optional<std::string> failure;
    try {
        failure = CodeSeal::verify(toolArgument(bundle));
    } catch (const std::exception& error) {
        failure = "codesign: " + std::string(error.what());
    }
    if (failure)
        throw CommandError(commandLine(tool, arguments), 1, *failure + "\n");
}

void SystemTools::unregisterFromLaunchServices(const std::filesystem::path& bundle)
{
    launchServices(bundle, "-u");
}

void SystemTools::registerWithLaunchServices(const std::filesystem::path& bundle)
{
    launchServices(bundle, "-f");
}

} // namespace korvel
