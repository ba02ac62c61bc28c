// Times a profile-app build step by step against what a user would otherwise run (cp -a --reflink=auto of
// the bundle plus one sha256sum pass over it), and the health check over many built profiles.
// Usage: CloneBuilderBench [files] [megabytes] [profiles]

#include "bench/BenchTiming.hpp"
#include "core/building/CloneBuilder.hpp"
#include "tests/support/ScopedEnvironment.hpp"
#include "tests/support/StandInClaude.hpp"
#include "tests/support/TempDir.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace korvel;
namespace fs = std::filesystem;
using bench::secondsSince;
using Clock = std::chrono::steady_clock;

namespace {

// The quoted path is one of our own temporary folders; nothing typed by a user reaches the shell.
double timeShell(const std::string& command)
{
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "failed: %s\n", command.c_str());
    return secondsSince(start);
}

std::string quoted(const fs::path& path)
{
    return "'" + path.string() + "'";
}

} // namespace

int main(int argc, char** argv)
{
    const int files = argc > 1 ? std::atoi(argv[1]) : 20000;
    const std::uint64_t megabytes = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 500;
    const int profiles = argc > 3 ? std::atoi(argv[3]) : 100;

    test::TempDir dir;
    test::ScopedEnvironment env("XDG_DATA_HOME", (dir / "data").string());
    env.set("HOME", dir.path().string());
    const fs::path source = test::StandInClaude::create(
        dir / "Applications", {.payloadFiles = files, .payloadBytes = megabytes * 1024 * 1024});
    const AppPaths paths(dir / "support", dir / "apps", source, dir / "orig");
    const CloneBuilder builder(paths, fs::path(KORVEL_LAUNCHER_PATH));

    // Warm the page cache, then the references, then our build, measured in the same run.
    timeShell("find " + quoted(source) + " -type f -print0 | xargs -0 cat > /dev/null");
    const double copy = timeShell("cp -a --reflink=auto " + quoted(source) + " " + quoted(dir / "copy.app"));
    const double hash = timeShell("find " + quoted(source) + " -type f -print0 | xargs -0 sha256sum > /dev/null");
    fs::remove_all(dir / "copy.app");

    std::string lastStep = "Checking…";
    auto stepStart = Clock::now();
    const auto buildStart = stepStart;
    const Profile work {Uuid::random(), "Work", ProfileColor::Blue, Timestamp::now()};
    builder.build(work, [&](std::string_view step) {
        std::printf("  %-28s %7.3f s\n", lastStep.c_str(), secondsSince(stepStart));
        lastStep = step;
        stepStart = Clock::now();
    });
    std::printf("  %-28s %7.3f s\n", lastStep.c_str(), secondsSince(stepStart));
    const double build = secondsSince(buildStart);
    std::printf("build of %d files / %llu MB: %.3f s; cp -a %.3f s + sha256sum %.3f s = %.3f s; ratio %.2f "
                "(target <= 1.30)\n",
        files, static_cast<unsigned long long>(megabytes), build, copy, hash, copy + hash, build / (copy + hash));

    // Health check over many small profile apps.
    test::TempDir small;
    const AppPaths smallPaths(
        small / "support", small / "apps", test::StandInClaude::create(small / "src"), small / "orig");
    const CloneBuilder smallBuilder(smallPaths, fs::path(KORVEL_LAUNCHER_PATH));
    const bench::StatusTiming timing = bench::timeStatusChecks(smallBuilder, profiles);
    std::printf("status of %d built profiles: %.2f ms in all (%d ready; target <= 20 ms)\n", profiles,
        timing.milliseconds, timing.ready);
}
