#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>

namespace korvel {

// What tells one version of a file from the next without reading it: a file replaced or rewritten gets another
// inode, size or time. Lets readers of big files remember what they found.
struct FileState
{
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long modifiedSeconds = 0;
    long modifiedNanoseconds = 0;
    long long changedSeconds = 0;
    long changedNanoseconds = 0;

    // The state of the file at `path` (links followed), or nothing when it cannot be looked at.
    static std::optional<FileState> of(const std::filesystem::path& path);

    friend bool operator==(const FileState&, const FileState&) = default;
};

} // namespace korvel
