#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>

namespace korvel {

// An exclusive advisory lock (flock) on a file, held for the object's life; the system drops it when the process
// ends, however it ends. It serialises processes: a lock this process already holds on the same file is shared
// and counted, so that a command holding the lock for its whole run can call code that takes it again.
class FileLock
{
public:
    // Creates the file (0600) and its folder (0700) when missing. Waits while another process holds the lock, at
    // most `wait` (for ever without one); `waiting` is called once before waiting. Throws FileError (WriteUnknown
    // with the file): when it cannot be created, or when the lock stays taken for `wait`.
    explicit FileLock(std::filesystem::path file, std::optional<std::chrono::milliseconds> wait = std::nullopt,
        const std::function<void()>& waiting = {});
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    std::filesystem::path m_file;
};

} // namespace korvel
