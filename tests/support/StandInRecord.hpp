#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace korvel::test {

// What the stand-in Claude executable writes about itself each time it runs: how it was started,
// in which process and folder, with which environment.
//
// The file holds one record per run, appended. Every field ends with a NUL byte, so arguments with blanks,
// quotes or line feeds come back unchanged:
//   "begin" "argc=N" <N arguments, "$0" first> "pid=P" "cwd=D" <NAME=value ...> "end"
struct StandInRecord
{
    std::vector<std::string> arguments; // argument zero first
    pid_t pid = 0;
    std::string workingDirectory;
    std::map<std::string, std::string> environment;

    // Every complete record in `file`, oldest first; a record still being written is left out.
    // No file: no records. Throws std::runtime_error on a file that does not follow the format.
    static std::vector<StandInRecord> readAll(const std::filesystem::path& file);

    // The one record in `file`; throws std::runtime_error when there is not exactly one.
    static StandInRecord readOne(const std::filesystem::path& file);

    // Appends a record in the same format; for stand-in programs written in C++.
    static void append(const std::filesystem::path& file, const StandInRecord& record);
};

} // namespace korvel::test
