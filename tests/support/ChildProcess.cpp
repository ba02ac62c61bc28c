#include "tests/support/ChildProcess.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace korvel::test {

namespace {

std::vector<char*> pointersTo(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (auto& text : strings)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

std::vector<std::string> environmentWith(const std::map<std::string, std::optional<std::string>>& changes)
{
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        if (!changes.count(text.substr(0, text.find('='))))
            entries.push_back(text);
    }
    for (const auto& [name, value] : changes) {
        if (value)
            entries.push_back(name + "=" + *value);
    }
    return entries;
}

std::string readAll(int fd)
{
    std::string bytes;
    char buffer[4096];
    for (ssize_t count; (count = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (count < 0 && errno != EINTR)
            throw std::runtime_error("read failed");
        bytes.append(buffer, static_cast<size_t>(std::max<ssize_t>(count, 0)));
    }
    return bytes;
}

} // namespace

ChildProcess::Result ChildProcess::run(const std::filesystem::path& program)
{
    return run(program, Options {});
}

ChildProcess::Result ChildProcess::run(const std::filesystem::path& program, const Options& options)
{
    std::vector<std::string> arguments = options.arguments;
    if (arguments.empty())
        arguments.push_back(program.string());
    std::vector<std::string> environment = environmentWith(options.environment);
    // Standard output through a pipe, read until every holder has closed it; standard error into a file.
    int out[2];
    char errorFile[] = "/tmp/korvel-stderr-XXXXXX";
    const int err = ::mkostemp(errorFile, O_CLOEXEC);
    if (err < 0 || ::unlink(errorFile) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make the child's outputs");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    if (!options.workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
    Result result;
    const auto started = std::chrono::steady_clock::now();
    const int error = ::posix_spawn(
        &result.pid, program.c_str(), &actions, nullptr, pointersTo(arguments).data(), pointersTo(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    result.standardOutput = error == 0 ? readAll(out[0]) : "";
    ::close(out[0]);
    if (error != 0)
        throw std::runtime_error("cannot start " + program.string() + ": " + std::strerror(error));
    int status = 0;
    while (::waitpid(result.pid, &status, 0) < 0 && errno == EINTR) { }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ::lseek(err, 0, SEEK_SET);
    result.standardError = readAll(err);
    ::close(err);
    if (WIFEXITED(status))
        result.exitStatus = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    return result;
}

} // namespace korvel::test
