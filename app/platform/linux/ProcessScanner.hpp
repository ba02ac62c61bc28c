#pragma once

#include "app/platform/linux/DataFolderIndex.hpp"

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace korvel {

// Finds the processes of this user that belong to an application, and which one each belongs to:
// - a process whose program lies in X.app/Contents/MacOS/ (or, for a script run by an interpreter, whose argv[0] or
//   argv[1] does) is X.app's;
// - a process on the command line of which `--user-data-dir=` names a profile app's data folder is that app's;
// - the process Korvel started for a bundle is that bundle's (its launcher becomes Claude in the same process);
// - a helper (`--type=…`) of a recognised install's program is its parent's, so a profile's helpers follow its main
//   process; any other process of that program is the install's (the original Claude).
// The environment never decides: Chromium-family programs write over it, and every program started from a
// profile's Claude inherits it.
//
// A process is looked at when it is new (pid, and the inode of /proc/PID, which a reused pid does not share), and
// again while it is young enough to exec another program; an old settled process costs nothing but its directory
// entry. One thread at a time.
class ProcessScanner
{
public:
    struct Process
    {
        pid_t pid = 0;
        std::uint64_t startTime = 0; // clock ticks after boot: tells a process from a later one with its pid
        std::filesystem::path bundle;
        bool helper = false; // started with --type=: a helper of a Chromium-family main process
        friend bool operator==(const Process&, const Process&) = default;
    };

    struct Scan
    {
        std::vector<Process> processes; // of applications, alive now, in no particular order
        std::vector<pid_t> others; // every other process seen, whoever's
        bool unsettled = false; // a young process may still exec into an application's program
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
    // Process `pid` was started from `bundle`.
    void started(pid_t pid, const std::filesystem::path& bundle);

    Scan scan(DataFolderIndex& profiles);

    // The pid the kernel handed out last (/proc/loadavg): while it stays, no process has started.
    static std::optional<pid_t> lastStartedPid();
    // The start time of process `pid` while it runs; nothing once it is gone or only a zombie is left.
    static std::optional<std::uint64_t> startTime(pid_t pid);

private:
    enum class Owner { None, Bundle, Install, Parent };
    struct Known
    {
        ino_t inode = 0; // of /proc/PID
        bool ours = false;
        std::string executable;
        std::uint64_t startTime = 0;
        pid_t parent = 0;
        Owner owner = Owner::None;
        std::filesystem::path bundle; // with Owner::Bundle and Owner::Install
        bool helper = false;
        bool unsettled = false; // looked at again at the next scans while young
        std::uint64_t lastScan = 0;
    };

    void probe(pid_t pid, Known& known, DataFolderIndex& profiles);
    void classify(pid_t pid, Known& known, DataFolderIndex& profiles);
    bool isYoung(const Known& known) const;
    std::optional<std::filesystem::path> ownerOf(const Known& known) const;

    int m_procFd = -1;
    uid_t m_uid;
    std::uint64_t m_scans = 0;
    std::uint64_t m_now = 0; // clock ticks after boot, at the start of the scan
    std::unordered_map<pid_t, Known> m_known;
    std::unordered_map<std::string, std::filesystem::path> m_installs; // executable → location
    std::map<pid_t, std::filesystem::path> m_started;
};

} // namespace korvel
