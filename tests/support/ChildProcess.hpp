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

    // Starts `program` and waits until it ends and every holder has closed its standard output.
    static Result run(const std::filesystem::path& program, const Options& options = {});
};

} // namespace korvel::test
