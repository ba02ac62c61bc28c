#pragma once

#include "tests/support/BackgroundProcess.hpp"

namespace korvel::test {

// Runs a program for real to its end and collects what it did: for tests that start our executables.
struct ChildProcess
{
    using Options = ProcessOptions;

    struct Result
    {
        pid_t pid = 0;
        int exitStatus = -1; // as BackgroundProcess::wait: 128 + the signal that ended it; 127: not executable
        std::string standardOutput;
        std::string standardError;
        double seconds = 0; // from start until its standard output was closed and the process was reaped
    };

    // Starts `program` and waits until it ends and every holder has closed its standard output. One that is
    // still at it after `deadline` is killed, and its standard error says so, so that a hanging program fails the
    // test that started it with what it wrote rather than running into the test's timeout.
    static Result run(const std::filesystem::path& program, const Options& options = {},
        std::chrono::seconds deadline = std::chrono::seconds(120));
};

} // namespace korvel::test
