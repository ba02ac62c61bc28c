#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvel::test {

struct ProcessOptions
{
    // Argument zero first; empty means the program's path alone.
    std::vector<std::string> arguments {};
    // Changes to the inherited environment: a value sets the variable, nothing removes it.
    std::map<std::string, std::optional<std::string>> environment {};
    // Empty: the test's own working directory.
    std::filesystem::path workingDirectory {};
};

// A program started for real that keeps running while the test goes on: its standard output is read line by
// line on demand, it can be signalled and waited for, and it is ended (SIGTERM, then SIGKILL after 5 s) and
// reaped when the object goes. It is killed should the test die first; one that cannot be executed exits 127.
class BackgroundProcess
{
public:
    using Options = ProcessOptions;

    explicit BackgroundProcess(const std::filesystem::path& program, const Options& options = {})
        : BackgroundProcess(program, options, false)
    { }
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    pid_t pid() const { return m_pid; }

    // Reads standard output until a line (without its newline) satisfies `match`, the output ends, or
    // `timeout` passes. Lines read on the way are kept in lines().
    std::optional<std::string> waitForLine(const std::function<bool(const std::string&)>& match,
        std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // The first line starting with `prefix`, as above.
    std::optional<std::string> waitForLine(
        std::string_view prefix, std::chrono::milliseconds timeout = std::chrono::seconds(30));
    const std::vector<std::string>& lines() const { return m_lines; }

    void signal(int number) const;
    // Waits until it exits: its exit status, 128 + the signal that ended it, or nothing after `timeout`.
    std::optional<int> wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    bool hasExited() const { return m_status.has_value(); }

private:
    friend struct ChildProcess;
    // With `captureError`, standard error goes to an unlinked file (m_error) instead of the test's own.
    BackgroundProcess(const std::filesystem::path& program, const Options& options, bool captureError);
    bool readSome(std::chrono::milliseconds timeout);

    pid_t m_pid = 0;
    int m_output = -1;
    int m_error = -1;
    std::string m_text; // everything read so far
    std::string m_pending;
    std::vector<std::string> m_lines;
    size_t m_matched = 0; // lines already handed to a match
    std::optional<int> m_status;
};

} // namespace korvel::test
