// A profile app of Claude Desktop installed for Linux is linked, not copied: times a linked build against the copy a
// user would otherwise make of the install folder (cp -a), with the disk each takes, and the health check over many
// linked profiles while dpkg's status file is as large as a desktop system's. All in one run.
// Usage: LinkedBuildBench [megabytes] [profiles]

#include "bench/BenchTiming.hpp"
#include "core/building/CloneBuilder.hpp"
#include "tests/support/ScopedEnvironment.hpp"
#include "tests/support/StandInLinuxClaude.hpp"
#include "tests/support/TempDir.hpp"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

using namespace korvel;
namespace fs = std::filesystem;
using bench::secondsSince;
using Clock = std::chrono::steady_clock;

namespace {

// Bytes the files under `folder` take on disk (blocks, links not followed).
std::uintmax_t diskUse(const fs::path& folder)
{
    std::uintmax_t bytes = 0;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        struct stat info
        { };
        if (::lstat(item.path().c_str(), &info) == 0)
            bytes += static_cast<std::uintmax_t>(info.st_blocks) * 512;
    }
    return bytes;
}

// Engine-sized files in the install folder, like Electron's libraries and paks.
void addPayload(const fs::path& folder, std::uint64_t megabytes)
{
    std::mt19937_64 random(7);
    std::string chunk(1 << 20, '\0');
    for (std::uint64_t file = 0; file * 16 < megabytes; ++file) {
        std::ofstream out(folder / ("payload-" + std::to_string(file) + ".pak"), std::ios::binary);
        for (int mb = 0; mb < 16; ++mb) {
            for (auto& byte : chunk)
                byte = static_cast<char>(random());
            out << chunk;
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 400;
    const int profiles = argc > 2 ? std::atoi(argv[2]) : 100;

    test::TempDir dir;
    test::ScopedEnvironment env("XDG_DATA_HOME", (dir / "data").string());
    env.set("HOME", dir.path().string());
    const fs::path root = dir / "root";
    const fs::path install = test::StandInLinuxClaude::create(root, "1.46388.2");
    addPayload(install, megabytes);
    // A desktop system's status file runs to megabytes: every health check asks it for Claude's version.
    {
        std::ofstream status(test::StandInLinuxClaude::adminDir(root) / "status", std::ios::app);
        for (int package = 0; package < 3000; ++package)
            status << "Package: filler-" << package << "\nStatus: install ok installed\nVersion: 1.0-" << package
                   << "\nDescription: " << std::string(900, 'x') << "\n\n";
    }
    env.set("KORVEL_DPKG_ADMINDIR", test::StandInLinuxClaude::adminDir(root).string());
    env.set("XDG_DATA_DIRS", (root / "usr/share").string());
    const AppPaths paths(dir / "support", dir / "apps", install, dir / "orig");
    const CloneBuilder builder(paths, fs::path(KORVEL_LAUNCHER_PATH));

    std::system(("cat '" + install.string() + "'/*.pak > /dev/null").c_str()); // warm the page cache
    const auto copyStart = Clock::now();
    std::system(("cp -a '" + install.string() + "' '" + (dir / "copy").string() + "'").c_str());
    const double copy = secondsSince(copyStart);
    const std::uintmax_t copyDisk = diskUse(dir / "copy");

    const Profile work {Uuid::random(), "Work", ProfileColor::Blue, Timestamp::now()};
    const auto buildStart = Clock::now();
    const fs::path app = builder.build(work);
    const double build = secondsSince(buildStart);
    const std::uintmax_t appDisk = diskUse(app);
    std::printf("install folder %llu MB: cp -a %.3f s, %.1f MB on disk; linked build %.3f s, %.2f MB on disk; "
                "time ratio %.3f, disk ratio %.4f\n",
        static_cast<unsigned long long>(megabytes), copy, copyDisk / 1e6, build, appDisk / 1e6, build / copy,
        static_cast<double>(appDisk) / static_cast<double>(copyDisk));

    const bench::StatusTiming timing = bench::timeStatusChecks(builder, profiles);
    std::printf("status of %d linked profiles with a %.1f MB dpkg status file: %.2f ms in all (%d ready)\n", profiles,
        fs::file_size(test::StandInLinuxClaude::adminDir(root) / "status") / 1e6, timing.milliseconds, timing.ready);
}
