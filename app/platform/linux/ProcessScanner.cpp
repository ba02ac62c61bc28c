#include "app/platform/linux/ProcessScanner.hpp"

#include "core/building/AppBundle.hpp"
#include "core/building/ProfileBundleKeys.hpp"
#include "core/model/ClaudeDesktop.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace korvel {
namespace {

constexpr std::string_view deletedSuffix = " (deleted)";

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
    return std::string(target.data(), static_cast<size_t>(n));
}

// State and start time from the text of /proc/PID/stat; nothing for a zombie or unreadable text.
std::optional<std::uint64_t> startTimeFromStat(std::string_view stat)
{
    // The name in parentheses may hold anything; the fields after the last ')' are plain.
    const size_t close = stat.rfind(')');
    if (close == std::string_view::npos)
        return std::nullopt;
    stat.remove_prefix(close + 1);
    std::uint64_t startTime = 0;
    for (int field = 3; field <= 22; ++field) {
        while (!stat.empty() && stat.front() == ' ')
            stat.remove_prefix(1);
        const size_t end = std::min(stat.find(' '), stat.size());
        const std::string_view value = stat.substr(0, end);
        if (value.empty())
            return std::nullopt;
        if (field == 3 && (value == "Z" || value == "X" || value == "x"))
            return std::nullopt;
        if (field == 22 && std::from_chars(value.data(), value.data() + value.size(), startTime).ec != std::errc())
            return std::nullopt;
        stat.remove_prefix(end);
    }
    return startTime;
}

// The bundle a script belongs to: argv[0] or argv[1] of the command line, relative ones taken from the
// process's working folder.
std::optional<std::filesystem::path> scriptBundle(int procFd, const std::string& pidText)
{
    const std::string commandLine = readProcFile(procFd, pidText + "/cmdline", 8192);
    std::string_view rest = commandLine;
    for (int index = 0; index < 2 && !rest.empty(); ++index) {
        const size_t end = std::min(rest.find('\0'), rest.size());
        std::filesystem::path argument(std::string(rest.substr(0, end)));
        rest.remove_prefix(std::min(end + 1, rest.size()));
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

// One NUL-separated entry of /proc/PID/cmdline or environ that begins with `prefix`, without the prefix.
std::optional<std::string_view> entryStarting(std::string_view entries, std::string_view prefix)
{
    while (!entries.empty()) {
        const size_t end = std::min(entries.find('\0'), entries.size());
        if (const std::string_view entry = entries.substr(0, end); entry.starts_with(prefix))
            return entry.substr(prefix.size());
        entries.remove_prefix(std::min(end + 1, entries.size()));
    }
    return std::nullopt;
}

// The profile app whose launcher started this process: named in its environment, and the process is Claude's
// program or runs on a data folder of its own (other children, a tool server for instance, are not the app).
std::optional<std::filesystem::path> launchedBundle(int procFd, const std::string& pidText, bool claudeProgram)
{
    if (!claudeProgram) {
        const std::string commandLine = readProcFile(procFd, pidText + "/cmdline", 65536);
        if (!entryStarting(commandLine, std::string(ClaudeDesktop::userDataDirSwitch)))
            return std::nullopt;
    }
    const std::string environment = readProcFile(procFd, pidText + "/environ", 262144);
    const auto bundle = entryStarting(environment, std::string(ProfileBundleKeys::bundleEnvironment) + "=");
    if (!bundle || !bundle->starts_with('/') || !bundle->ends_with(".app"))
        return std::nullopt;
    return AppBundle::resolvedLocation(std::filesystem::path(*bundle));
}

} // namespace

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

ProcessScanner::ProcessScanner()
    : m_procFd(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    , m_uid(::geteuid())
{ }

ProcessScanner::~ProcessScanner()
{
    if (m_procFd >= 0)
        ::close(m_procFd);
}

std::optional<std::uint64_t> ProcessScanner::startTime(pid_t pid)
{
    const int procFd = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (procFd < 0)
        return std::nullopt;
    const std::string stat = readProcFile(procFd, std::to_string(pid) + "/stat", 1024);
    ::close(procFd);
    return startTimeFromStat(stat);
}

void ProcessScanner::classify(pid_t pid, Known& known) const
{
    const std::string pidText = std::to_string(pid);
    std::string_view executable = known.executable;
    if (executable.ends_with(deletedSuffix))
        executable.remove_suffix(deletedSuffix.size()); // replaced on disk while it runs: still that bundle
    known.bundle = AppBundle::containing(std::filesystem::path(executable));
    const bool interpreter = !known.bundle && isInterpreter(executable);
    if (interpreter) {
        known.bundle = scriptBundle(m_procFd, pidText);
    } else if (!known.bundle) {
        const auto install = m_installs.find(std::string(executable));
        known.bundle = launchedBundle(m_procFd, pidText, install != m_installs.end());
        if (!known.bundle && install != m_installs.end())
            known.bundle = install->second;
    }
    known.unsettled = interpreter && !known.bundle;
    if (!known.bundle)
        return;
    const auto startTime = startTimeFromStat(readProcFile(m_procFd, pidText + "/stat", 1024));
    if (!startTime)
        known.bundle.reset(); // gone meanwhile
    else
        known.startTime = *startTime;
}

std::vector<ProcessScanner::Process> ProcessScanner::scan()
{
    std::vector<Process> found;
    if (m_procFd < 0)
        return found;
    const int listFd = ::dup(m_procFd);
    DIR* list = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!list) {
        if (listFd >= 0)
            ::close(listFd);
        return found;
    }
    ::rewinddir(list);
    ++m_scans;
    std::array<char, 4096> target {};
    std::array<char, 32> exeLink {};
    while (const dirent* entry = ::readdir(list)) {
        const auto pid = pidOf(entry->d_name);
        struct stat info
        { };
        if (!pid || ::fstatat(m_procFd, entry->d_name, &info, 0) != 0 || info.st_uid != m_uid)
            continue;
        std::snprintf(exeLink.data(), exeLink.size(), "%d/exe", *pid);
        const ssize_t length = ::readlinkat(m_procFd, exeLink.data(), target.data(), target.size());
        if (length <= 0 || static_cast<size_t>(length) >= target.size())
            continue; // kernel thread, zombie, or not ours to read
        const std::string_view executable(target.data(), static_cast<size_t>(length));

        Known& known = m_known[*pid];
        if (known.lastScan == 0 || known.unsettled || known.inode != info.st_ino || known.executable != executable) {
            known.inode = info.st_ino;
            known.executable = std::string(executable);
            classify(*pid, known);
        }
        known.lastScan = m_scans;
        if (known.bundle)
            found.push_back(Process {*pid, known.startTime, *known.bundle});
    }
    ::closedir(list);
    std::erase_if(m_known, [this](const auto& item) { return item.second.lastScan != m_scans; });
    return found;
}

} // namespace korvel
