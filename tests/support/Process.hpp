#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace korvel::test {

struct ProcessResult
{
    int status = -1; // exit code, or 128 + the signal that ended the process
    std::string output; // standard output and standard error, in arrival order
};

// Runs arguments[0] (a path; no search-path lookup) with exactly `environment` ("NAME=value" entries), in
// `workingDirectory` when given, and waits for it. Throws std::runtime_error when it cannot be started.
ProcessResult runProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
    const std::filesystem::path& workingDirectory = {});

} // namespace korvel::test
