#include "tests/support/BackgroundProcess.hpp"
#include "tests/support/ChildProcess.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace korvel::test {
namespace {

std::vector<std::string> environmentWith(const std::map<std::string, std::optional<std::string>>& changes)
{
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text(*entry);
        if (!changes.contains(text.substr(0, text.find('='))))
            entries.push_back(text);
    }
    for (const auto& [name, value] : changes)
        if (value)
            entries.push_back(name + "=" + *value);
    return entries;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> list;
    for (std::string& text : strings)
        list.push_back(text.data());
    list.push_back(nullptr);
    return list;
}

} // namespace

BackgroundProcess::BackgroundProcess(const std::filesystem::path& program, const Options& options, bool captureError)
{
    char errorFile[] = "/tmp/korvel-stderr-XXXXXX";
    int pipeFds[2];
    if (captureError && ((m_error = ::mkostemp(errorFile, O_CLOEXEC)) < 0 || ::unlink(errorFile) != 0))
        throw std::runtime_error(std::string("stderr file: ") + std::strerror(errno));
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    std::vector<std::string> arguments = options.arguments.empty() ? std::vector {program.string()} : options.arguments;
    std::vector<std::string> environment = environmentWith(options.environment);
    auto argv = pointers(arguments);
    auto envp = pointers(environment);
    const pid_t parent = ::getpid();

    // fork and exec rather than posix_spawn: the child asks to be killed when the test dies, so that nothing
    // outlives a crashed test. Only async-signal-safe calls between fork and exec.
    m_pid = ::fork();
    if (m_pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int input = ::open("/dev/null", O_RDONLY);
        if (::getppid() != parent || input < 0 || ::dup2(input, STDIN_FILENO) < 0 ||
            ::dup2(pipeFds[1], STDOUT_FILENO) < 0 || (m_error >= 0 && ::dup2(m_error, STDERR_FILENO) < 0) ||
            (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0))
            ::_exit(127);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    const int error = errno;
    ::close(pipeFds[1]);
    m_output = pipeFds[0];
    if (m_pid < 0)
        throw std::runtime_error("cannot start " + program.string() + ": " + std::strerror(error));
}

BackgroundProcess::~BackgroundProcess()
{
    // Politely first, so that it can end what it started.
    if (m_pid > 0 && !m_status && (::kill(m_pid, SIGTERM), !wait(std::chrono::seconds(5)))) {
        ::kill(m_pid, SIGKILL);
        wait(std::chrono::hours(1));
    }
    for (const int fd : {m_output, m_error})
        if (fd >= 0)
            ::close(fd);
}

bool BackgroundProcess::readSome(std::chrono::milliseconds timeout)
{
    if (m_output < 0)
        return false;
    pollfd ready {m_output, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(timeout.count())) <= 0)
        return true; // nothing yet, but the output is still open
    char buffer[4096];
    const ssize_t n = ::read(m_output, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR)
        return true;
    if (n <= 0) {
        ::close(std::exchange(m_output, -1));
        if (!m_pending.empty())
            m_lines.push_back(std::exchange(m_pending, {}));
        return false;
    }
    m_text.append(buffer, static_cast<size_t>(n));
    m_pending.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = m_pending.find('\n')) != std::string::npos; m_pending.erase(0, end + 1))
        m_lines.push_back(m_pending.substr(0, end));
    return true;
}

std::optional<std::string> BackgroundProcess::waitForLine(
    const std::function<bool(const std::string&)>& match, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        for (; m_matched < m_lines.size(); ++m_matched)
            if (match(m_lines[m_matched]))
                return m_lines[m_matched++];
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !readSome(left))
            return std::nullopt;
    }
}

std::optional<std::string> BackgroundProcess::waitForLine(std::string_view prefix, std::chrono::milliseconds timeout)
{
    return waitForLine([prefix](const std::string& line) { return line.starts_with(prefix); }, timeout);
}

void BackgroundProcess::signal(int number) const
{
    if (!m_status)
        ::kill(m_pid, number);
}

std::optional<int> BackgroundProcess::wait(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (int raw = 0; !m_status;) {
        if (::waitpid(m_pid, &raw, WNOHANG) == m_pid)
            m_status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        else if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return m_status;
}

ChildProcess::Result ChildProcess::run(
    const std::filesystem::path& program, const Options& options, std::chrono::seconds deadline)
{
    const auto started = std::chrono::steady_clock::now();
    const auto end = started + deadline;
    BackgroundProcess process(program, options, true);
    bool open = true;
    for (auto now = started; open && now < end; now = std::chrono::steady_clock::now())
        open = process.readSome(std::chrono::duration_cast<std::chrono::milliseconds>(end - now));
    const bool running = !process.wait(std::chrono::milliseconds(open ? 0 : 10'000));
    if (running)
        ::kill(process.pid(), SIGKILL);
    Result result;
    result.exitStatus = *process.wait(std::chrono::hours(1));
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    result.pid = process.pid();
    result.standardOutput = std::move(process.m_text);
    char buffer[4096];
    ::lseek(process.m_error, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(process.m_error, buffer, sizeof buffer)) > 0;)
        result.standardError.append(buffer, static_cast<size_t>(n));
    if (running || open)
        result.standardError += "\n[test] " + program.filename().string() +
            (running ? " was still running" : "'s standard output was still open (held by what it started)") +
            " after " + std::to_string(deadline.count()) + " s" + (running ? ": killed\n" : "\n");
    return result;
}

} // namespace korvel::test
