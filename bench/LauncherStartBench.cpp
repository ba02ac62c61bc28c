// How much the launcher adds to starting a profile app: the same do-nothing Claude started directly, through a
// bare exec trampoline (the floor for any launcher) and through the launcher, in turn in one run. Reported per
// start: medians of each, the launcher's overhead over the direct start and over the trampoline, and ratios.

#include "tests/support/StandInClaude.hpp"
#include "tests/support/TempDir.hpp"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cerrno>
#include <chrono>
#include <spawn.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace fs = std::filesystem;
using korvel::test::StandInClaude;

namespace {

struct ProfileApp
{
    korvel::test::TempDir temp;
    fs::path launcher;
    fs::path claude;
    std::string dataDir;

    ProfileApp()
    {
        const fs::path bundle = temp / "Claude Bench.app";
        fs::rename(StandInClaude::create(temp.path()), bundle);
        dataDir = (temp / "Data").string();
        StandInClaude::installLauncher(bundle, KORVEL_LAUNCHER_PATH, dataDir);
        launcher = bundle / "Contents/MacOS/KorvelLauncher";
        claude = StandInClaude::executable(bundle);
        fs::copy_file(KORVEL_NOOP_PATH, claude, fs::copy_options::overwrite_existing);
        fs::create_directories(dataDir); // as on every start after the first
    }
};

struct Timing
{
    double wall = 0; // seconds from start to end
    double cpu = 0; // processor seconds the program used (user and system), less sensitive to a busy machine
};

double childrenCpuSeconds()
{
    rusage usage {};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Starts `program` and waits for it.
Timing timedRun(const fs::path& program, std::vector<std::string> arguments)
{
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const double cpuBefore = childrenCpuSeconds();
    const auto started = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + program.string());
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(program.string() + " failed");
    return {wall, childrenCpuSeconds() - cpuBefore};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void LauncherStart(benchmark::State& state)
{
    static const ProfileApp app;
    const std::string dataSwitch = "--user-data-dir=" + app.dataDir;
    std::vector<double> direct, trampolined, launched;
    double directCpu = 0, launchedCpu = 0;
    for (auto _ : state) {
        const auto plain = timedRun(app.claude, {app.claude.string(), dataSwitch});
        const auto bare = timedRun(KORVEL_TRAMPOLINE_PATH, {"trampoline", app.claude.string(), dataSwitch});
        const auto through = timedRun(app.launcher, {app.launcher.string()});
        direct.push_back(plain.wall);
        trampolined.push_back(bare.wall);
        launched.push_back(through.wall);
        directCpu += plain.cpu;
        launchedCpu += through.cpu;
    }
    const double directMs = median(direct) * 1000, trampolineMs = median(trampolined) * 1000,
                 launchedMs = median(launched) * 1000;
    state.counters["direct_ms"] = directMs;
    state.counters["trampoline_ms"] = trampolineMs;
    state.counters["launcher_ms"] = launchedMs;
    state.counters["overhead_ms"] = launchedMs - directMs;
    state.counters["over_trampoline_ms"] = launchedMs - trampolineMs;
    state.counters["ratio"] = launchedMs / directMs;
    state.counters["ratio_to_trampoline"] = launchedMs / trampolineMs;
    // Processor time per start, averaged (the system counts it in ticks of a few milliseconds).
    const auto runs = static_cast<double>(state.iterations());
    state.counters["overhead_cpu_ms"] = (launchedCpu - directCpu) / runs * 1000;
}
BENCHMARK(LauncherStart)->Iterations(2000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
