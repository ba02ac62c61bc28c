#include "core/building/LauncherHash.hpp"

#include "core/support/Sha256.hpp"

#include <sys/stat.h>

#include <map>
#include <mutex>

namespace korvel::LauncherHash {
namespace {

struct FileState
{
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long modifiedSeconds = 0;
    long modifiedNanoseconds = 0;
    long long changedSeconds = 0;
    long changedNanoseconds = 0;
    friend bool operator==(const FileState&, const FileState&) = default;
};

std::optional<FileState> stateOf(const std::filesystem::path& file)
{
    struct stat info
    { };
    if (::stat(file.c_str(), &info) != 0)
        return std::nullopt;
    return FileState {info.st_dev, info.st_ino, info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec,
        info.st_ctim.tv_sec, info.st_ctim.tv_nsec};
}

} // namespace

std::optional<std::string> of(const std::filesystem::path& launcher)
{
    // One process-wide memo: the builder is a plain value copied into background jobs, so the memo
    // cannot live in it.
    static std::mutex mutex;
    static std::map<std::string, std::pair<FileState, std::string>> memo;

    const auto before = stateOf(launcher);
    if (!before)
        return std::nullopt;
    {
        const std::lock_guard lock(mutex);
        const auto it = memo.find(launcher.string());
        if (it != memo.end() && it->second.first == *before)
            return it->second.second;
    }
    auto hash = Sha256::hexOfFile(launcher);
    // Only remember a hash whose file did not change while it was read.
    if (hash && stateOf(launcher) == before) {
        const std::lock_guard lock(mutex);
        memo[launcher.string()] = {*before, *hash};
    }
    return hash;
}

} // namespace korvel::LauncherHash
