#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace korvel::test {

// Runs a program for real and collects what it did: for tests that start our executables.
struct ChildProcess
{
    struct Options
    {
        // Argument zero first; empty means the program's path alone.
        std::vector<std::string> arguments {};
        // Changes to the inherited environment: a value sets the variable, nothing removes it.
        std::map<std::string, std::optional<std::string>> environment {};
        // Empty: the test's own working directory.
        std::filesystem::path workingDirectory {};
    };

    struct Result
    {
        pid_t pid = 0;
        int exitStatus = -1; // -1 when the program did not exit normally
        int signal = 0; // the signal that ended it, 0 when it exited
        std::string standardOutput;
        std::string standardError;
        double seconds = 0; // from start until its standard output was closed and the process was reaped
    };

    // Starts `program` and waits until it ends and has closed its standard output. Throws std::runtime_error when
    // it cannot be started.
    static Result run(const std::filesystem::path& program);
    static Result run(const std::filesystem::path& program, const Options& options);
};

} // namespace korvel::test
