// How long one workspace scan takes with about 300 processes on the machine, against a reference scanner that
// reads what it needs of every process on every scan (no cache), measured in the same run.

#include "app/platform/linux/ProcessScanner.hpp"
#include "app/platform/linux/WorkspaceScan.hpp"
#include "core/building/InfoPlistPatcher.hpp"
#include "tests/support/BackgroundProcess.hpp"
#include "tests/support/TempDir.hpp"

#include <benchmark/benchmark.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <memory>
#include <vector>

using namespace korvel;

namespace {

constexpr int targetProcesses = 300;
constexpr int profileApps = 10;

int countProcesses()
{
    int count = 0;
    DIR* proc = ::opendir("/proc");
    while (const dirent* entry = ::readdir(proc))
        count += entry->d_name[0] >= '1' && entry->d_name[0] <= '9';
    ::closedir(proc);
    return count;
}

// Ten running profile apps and enough idle processes to reach about 300 in all, for the whole run.
struct Machine
{
    test::TempDir folder;
    std::vector<std::unique_ptr<test::BackgroundProcess>> processes;

    Machine()
    {
        for (int i = 0; i < profileApps; ++i) {
            const auto bundle = folder / ("Claude " + std::to_string(i) + ".app");
            std::filesystem::create_directories(bundle / "Contents" / "MacOS");
            InfoPlistPatcher::write({{"CFBundleIdentifier", "com.veldrane.Korvel.profile." + std::to_string(i)},
                                        {"CFBundleExecutable", "Claude"}},
                bundle / "Contents" / "Info.plist");
            std::filesystem::copy_file("/bin/sleep", bundle / "Contents" / "MacOS" / "Claude");
            processes.push_back(std::make_unique<test::BackgroundProcess>(bundle / "Contents" / "MacOS" / "Claude",
                test::BackgroundProcess::Options {.arguments = {"Claude", "3600"}}));
        }
        while (countProcesses() < targetProcesses)
            processes.push_back(std::make_unique<test::BackgroundProcess>(
                "/bin/sleep", test::BackgroundProcess::Options {.arguments = {"sleep", "3600"}}));
    }
};

Machine& machine()
{
    static Machine instance;
    return instance;
}

// What a scanner without a cache does: per process, its owner, executable, command line and start time.
size_t naiveScan()
{
    size_t bundles = 0;
    const int procFd = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* proc = ::fdopendir(::dup(procFd));
    std::array<char, 8192> buffer {};
    while (const dirent* entry = ::readdir(proc)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        struct stat info
        { };
        if (::fstatat(procFd, entry->d_name, &info, 0) != 0 || info.st_uid != ::geteuid())
            continue;
        const std::string pid = entry->d_name;
        const ssize_t length = ::readlinkat(procFd, (pid + "/exe").c_str(), buffer.data(), buffer.size());
        if (length <= 0)
            continue;
        for (const char* file : {"/cmdline", "/stat"}) {
            const int fd = ::openat(procFd, (pid + file).c_str(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0) {
                benchmark::DoNotOptimize(::read(fd, buffer.data(), buffer.size()));
                ::close(fd);
            }
        }
        bundles += std::string_view(buffer.data(), static_cast<size_t>(length)).find(".app/Contents/MacOS/") !=
            std::string_view::npos;
    }
    ::closedir(proc);
    ::close(procFd);
    return bundles;
}

void BM_ReferenceScanWithoutCache(benchmark::State& state)
{
    machine();
    for (auto _ : state)
        benchmark::DoNotOptimize(naiveScan());
    state.counters["processes"] = countProcesses();
}

void BM_ProcessScannerFirstScan(benchmark::State& state)
{
    machine();
    for (auto _ : state) {
        ProcessScanner scanner;
        DataFolderIndex profiles;
        benchmark::DoNotOptimize(scanner.scan(profiles));
    }
}

void BM_ProcessScannerSteadyScan(benchmark::State& state)
{
    machine();
    ProcessScanner scanner;
    DataFolderIndex profiles;
    size_t found = scanner.scan(profiles).processes.size();
    for (auto _ : state)
        found = scanner.scan(profiles).processes.size();
    state.counters["bundleProcesses"] = static_cast<double>(found);
    state.counters["processes"] = countProcesses();
}

// What the workspace's scanning thread does for each look: the scan, grouped by bundle, with identifiers.
void BM_WorkspaceScan(benchmark::State& state)
{
    machine();
    WorkspaceScan scan;
    size_t applications = scan.run(std::nullopt).applications.size();
    for (auto _ : state)
        applications = scan.run(std::nullopt).applications.size();
    state.counters["applications"] = static_cast<double>(applications);
}

} // namespace

BENCHMARK(BM_ReferenceScanWithoutCache)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProcessScannerFirstScan)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProcessScannerSteadyScan)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WorkspaceScan)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
