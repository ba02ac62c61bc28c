#include "app/platform/linux/ProcessScanner.hpp"

#include "app/platform/linux/ProcessCommandLine.hpp"
#include "core/building/AppBundle.hpp"
#include "core/building/ProfileBundleKeys.hpp"
#include "core/model/TaskBarIdentity.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <string_view>

namespace korvel {
namespace {

constexpr std::string_view deletedSuffix = " (deleted)";
// Long enough for a launcher, a wrapper script or a shell to exec the program it starts.
constexpr std::uint64_t youthSeconds = 10;
// Helpers nest: browser → zygote → its fork → renderer.
constexpr int deepestHelper = 8;

// Programs that run a script named on their command line.
bool isInterpreter(std::string_view executable)
{
    std::string_view name = executable.substr(executable.rfind('/') + 1);
    while (!name.empty() && (std::isdigit(static_cast<unsigned char>(name.back())) || name.back() == '.'))
        name.remove_suffix(1); // python3.11 → python
    constexpr std::array<std::string_view, 15> interpreters = {"sh", "dash", "bash", "zsh", "ksh", "mksh", "fish",
        "busybox", "python", "perl", "ruby", "node", "nodejs", "lua", "tclsh"};
    for (const std::string_view interpreter : interpreters)
        if (name == interpreter)
            return true;
    return false;
}

std::optional<pid_t> pidOf(const char* name)
{
    pid_t pid = 0;
    const char* end = name + std::strlen(name);
    const auto [rest, error] = std::from_chars(name, end, pid);
    if (error != std::errc() || rest != end || pid <= 0)
        return std::nullopt;
    return pid;
}

// Reads a whole small file of /proc; empty when it cannot be read.
std::string readProcFile(int procFd, const std::string& relative, size_t limit)
{
    const int fd = ::openat(procFd, relative.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string text(limit, '\0');
    size_t used = 0;
    while (used < limit) {
        const ssize_t n = ::read(fd, text.data() + used, limit - used);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        used += static_cast<size_t>(n);
    }
    ::close(fd);
    text.resize(used);
    return text;
}

std::optional<std::string> readLink(int procFd, const std::string& relative)
{
    std::array<char, 4096> target {};
    const ssize_t n = ::readlinkat(procFd, relative.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<size_t>(n) >= target.size())
        return std::nullopt;
    std::string_view link(target.data(), static_cast<size_t>(n));
    if (link.ends_with(deletedSuffix))
        link.remove_suffix(deletedSuffix.size()); // replaced on disk while it runs (an upgrade): still that program
    return std::string(link);
}

struct Stat
{
    pid_t parent = 0;
    std::uint64_t startTime = 0;
};

// Parent and start time from the text of /proc/PID/stat; nothing for a zombie or unreadable text.
std::optional<Stat> parseStat(std::string_view stat)
{
    // The name in parentheses may hold anything; the fields after the last ')' are plain.
    const size_t close = stat.rfind(')');
    if (close == std::string_view::npos)
        return std::nullopt;
    stat.remove_prefix(close + 1);
    Stat parsed;
    for (int field = 3; field <= 22; ++field) {
        while (!stat.empty() && stat.front() == ' ')
            stat.remove_prefix(1);
        const size_t end = std::min(stat.find(' '), stat.size());
        const std::string_view value = stat.substr(0, end);
        if (value.empty())
            return std::nullopt;
        const auto number = [&value](auto& into) {
            return std::from_chars(value.data(), value.data() + value.size(), into).ec == std::errc();
        };
        if (field == 3 && (value == "Z" || value == "X" || value == "x"))
            return std::nullopt;
        if ((field == 4 && !number(parsed.parent)) || (field == 22 && !number(parsed.startTime)))
            return std::nullopt;
        stat.remove_prefix(end);
    }
    return parsed;
}

std::optional<Stat> readStat(int procFd, const std::string& pidText)
{
    return parseStat(readProcFile(procFd, pidText + "/stat", 1024));
}

// The bundle a script belongs to: argv[0] or argv[1] of the command line, relative ones taken from the
// process's working folder.
std::optional<std::filesystem::path> scriptBundle(
    int procFd, const std::string& pidText, const ProcessCommandLine& commandLine)
{
    const auto& arguments = commandLine.arguments();
    for (size_t index = 0; index < std::min<size_t>(2, arguments.size()); ++index) {
        std::filesystem::path argument(arguments[index]);
        if (argument.empty())
            continue;
        if (argument.is_relative()) {
            const auto folder = readLink(procFd, pidText + "/cwd");
            if (!folder)
                continue;
            argument = std::filesystem::path(*folder) / argument;
        }
        if (auto bundle = AppBundle::containing(argument.lexically_normal()))
            return AppBundle::resolvedLocation(*bundle);
    }
    return std::nullopt;
}

// The profile app a process says it was started from, in the variable its launcher sets. A hint only: it is
// inherited by whatever the app starts, and Chromium writes over the area that holds it.
std::optional<std::filesystem::path> namedBundle(int procFd, const std::string& pidText)
{
    const std::string environment = readProcFile(procFd, pidText + "/environ", 262144);
    const std::string prefix = std::string(ProfileBundleKeys::bundleEnvironment) + "=";
    for (std::string_view rest = environment; !rest.empty();) {
        const size_t end = std::min(rest.find('\0'), rest.size());
        const std::string_view entry = rest.substr(0, end);
        if (entry.starts_with(prefix) && entry.size() > prefix.size() + 1 && entry[prefix.size()] == '/')
            return std::filesystem::path(entry.substr(prefix.size()));
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return std::nullopt;
}

std::uint64_t ticksSinceBoot()
{
    timespec now {};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    const auto perSecond = static_cast<std::uint64_t>(::sysconf(_SC_CLK_TCK));
    return static_cast<std::uint64_t>(now.tv_sec) * perSecond +
        static_cast<std::uint64_t>(now.tv_nsec) * perSecond / 1'000'000'000u;
}

} // namespace

ProcessScanner::ProcessScanner()
    : m_procFd(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    , m_uid(::geteuid())
{ }

ProcessScanner::~ProcessScanner()
{
    if (m_procFd >= 0)
        ::close(m_procFd);
}

void ProcessScanner::recognise(const std::filesystem::path& executable, const std::filesystem::path& location)
{
    m_installs[executable.string()] = location;
}

bool ProcessScanner::isInstall(const std::filesystem::path& bundle) const
{
    for (const auto& [executable, location] : m_installs)
        if (location == bundle)
            return true;
    return false;
}

void ProcessScanner::started(pid_t pid, const std::filesystem::path& bundle)
{
    m_started[pid] = AppBundle::resolvedLocation(bundle);
    if (const auto known = m_known.find(pid); known != m_known.end())
        known->second.unsettled = true; // seen before this was said
}

std::optional<pid_t> ProcessScanner::lastStartedPid()
{
    const std::string text = readProcFile(AT_FDCWD, "/proc/loadavg", 128); // "0.00 0.01 0.05 1/123 4567\n"
    const size_t blank = text.find_last_of(' ');
    pid_t pid = 0;
    if (blank == std::string::npos ||
        std::from_chars(text.data() + blank + 1, text.data() + text.size(), pid).ec != std::errc())
        return std::nullopt;
    return pid;
}

std::optional<std::uint64_t> ProcessScanner::startTime(pid_t pid)
{
    const int procFd = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (procFd < 0)
        return std::nullopt;
    const auto stat = readStat(procFd, std::to_string(pid));
    ::close(procFd);
    return stat ? std::optional(stat->startTime) : std::nullopt;
}

bool ProcessScanner::isYoung(const Known& known) const
{
    return m_now < known.startTime + youthSeconds * static_cast<std::uint64_t>(::sysconf(_SC_CLK_TCK));
}

// A process seen for the first time: whose it is, and what it runs.
void ProcessScanner::probe(pid_t pid, Known& known, DataFolderIndex& profiles)
{
    const std::string pidText = std::to_string(pid);
    struct stat info
    { };
    known.ours = ::fstatat(m_procFd, pidText.c_str(), &info, 0) == 0 && info.st_uid == m_uid;
    if (!known.ours)
        return;
    const auto stat = readStat(m_procFd, pidText);
    const auto executable = readLink(m_procFd, pidText + "/exe");
    if (!stat || !executable) {
        known.ours = false; // kernel thread, zombie, or not ours to read
        return;
    }
    known.startTime = stat->startTime;
    known.parent = stat->parent;
    known.executable = *executable;
    classify(pid, known, profiles);
}

void ProcessScanner::classify(pid_t pid, Known& known, DataFolderIndex& profiles)
{
    const std::string pidText = std::to_string(pid);
    known.owner = Owner::None;
    known.bundle.clear();
    known.helper = false;
    known.unsettled = false;

    const std::filesystem::path executable(known.executable);
    const auto install = m_installs.find(known.executable);
    const bool interpreter = isInterpreter(known.executable);
    std::optional<std::filesystem::path> bundle = AppBundle::containing(executable);
    const ProcessCommandLine commandLine(readProcFile(m_procFd, pidText + "/cmdline", 65536));
    if (commandLine.empty()) {
        known.unsettled = true; // in the middle of an exec
        return;
    }
    known.helper = commandLine.isHelper();

    if (const auto started = m_started.find(pid); started != m_started.end()) {
        bundle = started->second;
    } else if (bundle && executable.filename() == TaskBarIdentities::relayExecutable) {
        bundle.reset(); // a profile app's Wayland relay serves its Claude and outlives it for a moment: not the app
    } else if (bundle) {
        bundle = AppBundle::resolvedLocation(*bundle);
    } else if (interpreter) {
        bundle = scriptBundle(m_procFd, pidText, commandLine);
        known.unsettled = true; // may still exec: a script's own fork runs what it starts, or another script
    } else if (const auto dataFolder = commandLine.switchValue("user-data-dir"); dataFolder && !dataFolder->empty()) {
        const auto folder = AppBundle::resolvedLocation(*dataFolder);
        bundle = profiles.bundleFor(folder, namedBundle(m_procFd, pidText));
    }
    if (bundle) {
        known.owner = Owner::Bundle;
        known.bundle = *bundle;
    } else if (install != m_installs.end()) {
        known.owner = known.helper ? Owner::Parent : Owner::Install;
        known.bundle = install->second;
    }
}

std::optional<std::filesystem::path> ProcessScanner::ownerOf(const Known& known) const
{
    const Known* at = &known;
    for (int depth = 0; at->owner == Owner::Parent && depth < deepestHelper; ++depth) {
        const auto parent = m_known.find(at->parent);
        if (parent == m_known.end() || parent->second.startTime > at->startTime || parent->second.owner == Owner::None)
            break;
        at = &parent->second;
    }
    switch (at->owner) {
    case Owner::None:
        return std::nullopt;
    case Owner::Parent: // no owning ancestor found: a helper of the install's program is the install's
    case Owner::Bundle:
    case Owner::Install:
        return at->bundle;
    }
    return std::nullopt;
}

ProcessScanner::Scan ProcessScanner::scan(DataFolderIndex& profiles)
{
    Scan result;
    if (m_procFd < 0)
        return result;
    const int listFd = ::dup(m_procFd);
    DIR* list = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!list) {
        if (listFd >= 0)
            ::close(listFd);
        return result;
    }
    ::rewinddir(list);
    ++m_scans;
    m_now = ticksSinceBoot();
    while (const dirent* entry = ::readdir(list)) {
        const auto pid = pidOf(entry->d_name);
        if (!pid)
            continue;
        Known& known = m_known[*pid];
        if (known.lastScan == 0 || known.inode != entry->d_ino) {
            known = Known {};
            known.inode = entry->d_ino;
            probe(*pid, known, profiles);
        } else if (known.ours && (isYoung(known) || known.owner != Owner::None)) {
            // A launcher becomes Claude, a wrapper execs the program, a shell execs a bundle's script; an
            // application's process may be a zombie its parent has not reaped yet.
            const auto executable = readLink(m_procFd, std::to_string(*pid) + "/exe");
            if (!executable && !readStat(m_procFd, std::to_string(*pid))) {
                known.ours = false; // a zombie: gone but for its parent's wait
                known.owner = Owner::None;
            } else if (executable && (known.unsettled || *executable != known.executable)) {
                known.executable = *executable;
                classify(*pid, known, profiles);
            }
        }
        known.lastScan = m_scans;
        result.unsettled = result.unsettled || (known.unsettled && isYoung(known));
    }
    ::closedir(list);
    std::erase_if(m_known, [this](const auto& item) { return item.second.lastScan != m_scans; });
    std::erase_if(m_started, [this](const auto& item) { return !m_known.contains(item.first); });

    for (const auto& [pid, known] : m_known) {
        const auto bundle = known.ours ? ownerOf(known) : std::nullopt;
        if (bundle)
            result.processes.push_back(Process {pid, known.startTime, *bundle, known.helper});
        else
            result.others.push_back(pid);
    }
    return result;
}

} // namespace korvel
