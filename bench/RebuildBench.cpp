// The automatic rebuild of linked profile apps after an apt upgrade of Claude, against the floor of writing the same
// files (same sizes, same count, each flushed as the build flushes what it writes), in the same run. The rebuild's
// processor time counts its helper processes too. Target: the rebuild's processor time ≤ 10× the floor's.
// Usage: RebuildBench [profiles]

#include "bench/BenchTiming.hpp"
#include "core/building/CloneBuilder.hpp"
#include "tests/support/ScopedEnvironment.hpp"
#include "tests/support/StandInLinuxClaude.hpp"
#include "tests/support/TempDir.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace korvel;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Processor seconds of this process and of its children that ended.
double processorSeconds()
{
    double seconds = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage {};
        ::getrusage(who, &usage);
        seconds += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return seconds;
}

struct Cost
{
    double wall = 0;
    double processor = 0;
};

template<typename Work>
Cost costOf(Work work)
{
    const auto start = Clock::now();
    const double processor = processorSeconds();
    work();
    return {bench::secondsSince(start), processorSeconds() - processor};
}

// The sizes of the regular files a build leaves: the apps and what their registration wrote.
std::vector<std::uintmax_t> writtenFiles(const std::vector<fs::path>& roots)
{
    std::vector<std::uintmax_t> sizes;
    for (const fs::path& root : roots)
        for (const auto& item : fs::recursive_directory_iterator(root))
            if (item.is_regular_file(/*links not followed*/) && !item.is_symlink())
                sizes.push_back(item.file_size());
    return sizes;
}

// The floor: the same files written and flushed, one by one.
void writeFloor(const fs::path& folder, const std::vector<std::uintmax_t>& sizes)
{
    fs::create_directories(folder);
    std::string bytes;
    for (size_t i = 0; i < sizes.size(); ++i) {
        bytes.assign(sizes[i], 'k');
        const int fd = ::open((folder / std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) || ::fsync(fd) != 0)
            std::perror("floor");
        ::close(fd);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const int profiles = argc > 1 ? std::atoi(argv[1]) : 10;

    test::TempDir dir;
    test::ScopedEnvironment env("XDG_DATA_HOME", (dir / "data").string());
    env.set("HOME", dir.path().string());
    const fs::path root = dir / "root";
    test::StandInLinuxClaude::create(root, "1.46388.2");
    env.set("KORVEL_DPKG_ADMINDIR", test::StandInLinuxClaude::adminDir(root).string());
    env.set("XDG_DATA_DIRS", (root / "usr/share").string());
    const AppPaths paths(dir / "support", dir / "apps", test::StandInLinuxClaude::installFolder(root), dir / "orig");
    const CloneBuilder builder(paths, fs::path(KORVEL_LAUNCHER_PATH));

    std::vector<Profile> built;
    for (int i = 0; i < profiles; ++i) {
        built.push_back(Profile {Uuid::random(), "P" + std::to_string(i), ProfileColor::Green, Timestamp::now()});
        builder.build(built.back());
    }
    test::StandInLinuxClaude::upgrade(root, "1.47000.0");
    ::sync();
    const Cost rebuild = costOf([&] {
        for (const Profile& profile : built)
            builder.build(profile);
    });
    int ready = 0;
    for (const Profile& profile : built)
        ready += builder.status(profile) == CloneStatus::ready("1.47000.0") ? 1 : 0;

    const std::vector<std::uintmax_t> sizes = writtenFiles({paths.appsDir, dir / "data"});
    std::uintmax_t bytes = 0;
    for (const std::uintmax_t size : sizes)
        bytes += size;
    ::sync();
    const Cost floor = costOf([&] { writeFloor(dir / "floor", sizes); });

    const double ratio = rebuild.processor / floor.processor;
    std::printf("rebuild of %d linked apps after an upgrade (%d ready): %.3f s wall, %.3f s processor; writing the "
                "same %zu files (%.1f MB): %.3f s wall, %.3f s processor; processor ratio %.1f (target 10), wall "
                "ratio %.1f — %s\n",
        profiles, ready, rebuild.wall, rebuild.processor, sizes.size(), static_cast<double>(bytes) / 1e6, floor.wall,
        floor.processor, ratio, rebuild.wall / floor.wall, ratio <= 10 ? "within the target" : "OVER the target");
    return ratio <= 10 ? 0 : 1;
}
