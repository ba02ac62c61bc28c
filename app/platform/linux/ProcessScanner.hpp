#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace korvel {

// Finds the processes of this user that run from an application bundle: the executable (/proc/PID/exe) lies
// in X.app/Contents/MacOS/, or, for a script run by an interpreter, argv[0] or argv[1] does. Claude of a Linux
// install runs from its own folder for every profile: a process that a profile app's launcher started (it names
// the bundle in its environment and has a data folder on its command line) is that bundle's; any other process of
// a recognised install's program is the install's. Runs every second,
// so a scan reads as little as it can: one stat and one readlink per process, the rest only once per process.
class ProcessScanner
{
public:
    struct Process
    {
        pid_t pid = 0;
        std::uint64_t startTime = 0; // clock ticks after boot: tells a process from a later one with its pid
        std::filesystem::path bundle;
        friend bool operator==(const Process&, const Process&) = default;
    };

    ProcessScanner();
    ~ProcessScanner();
    ProcessScanner(const ProcessScanner&) = delete;
    ProcessScanner& operator=(const ProcessScanner&) = delete;

    // Processes of `executable` (a path as /proc shows it, links resolved) count as `location`'s. Call before
    // the first scan.
    void recognise(const std::filesystem::path& executable, const std::filesystem::path& location);
    // Whether `bundle` is the location of a recognised install.
    bool isInstall(const std::filesystem::path& bundle) const;

    // Every such process alive now, in no particular order.
    std::vector<Process> scan();

    // The start time of process `pid` while it runs; nothing once it is gone or only a zombie is left.
    static std::optional<std::uint64_t> startTime(pid_t pid);

private:
    struct Known
    {
        ino_t inode = 0; // of /proc/PID: a new process with a reused pid gets a new one
        std::string executable;
        std::uint64_t startTime = 0;
        std::optional<std::filesystem::path> bundle;
        // An interpreter without a bundle is looked at again every scan: its command line can still change
        // without its executable doing so (read in the middle of an exec, or an exec into a script it runs).
        bool unsettled = false;
        std::uint64_t lastScan = 0;
    };

    void classify(pid_t pid, Known& known) const;

    int m_procFd = -1;
    uid_t m_uid;
    std::uint64_t m_scans = 0;
    std::unordered_map<pid_t, Known> m_known;
    std::unordered_map<std::string, std::filesystem::path> m_installs; // executable → location
};

} // namespace korvel
