// Korvel's platform layer idle on a desktop with ten profile apps running: the workspace scans once a second
// and nothing else happens. Prints the CPU time it used as a share of one core and its resident memory, next
// to the same process before the platform existed.
//
//     korvel-workspace-idle [SECONDS]      (default 60)

#include "app/platform/linux/LinuxPlatform.hpp"
#include "core/building/InfoPlistPatcher.hpp"
#include "tests/support/BackgroundProcess.hpp"
#include "tests/support/TempDir.hpp"

#include <QCoreApplication>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

using namespace korvel;

namespace {

double cpuSeconds()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long residentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmRSS:"))
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

std::filesystem::path bundle(const std::filesystem::path& folder, const std::string& name, const std::string& id)
{
    const auto path = folder / (name + ".app");
    std::filesystem::create_directories(path / "Contents" / "MacOS");
    InfoPlistPatcher::write(
        {{"CFBundleIdentifier", id}, {"CFBundleExecutable", name}}, path / "Contents" / "Info.plist");
    std::filesystem::copy_file("/bin/sleep", path / "Contents" / "MacOS" / name);
    return path;
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    test::TempDir folder;
    for (const char* variable : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"})
        ::setenv(variable, (folder / variable).c_str(), 1);
    ::setenv("HOME", folder.path().c_str(), 1);

    std::vector<std::unique_ptr<test::BackgroundProcess>> apps;
    for (int i = 0; i < 10; ++i) {
        const auto app =
            bundle(folder.path(), "Claude " + std::to_string(i), "com.veldrane.Korvel.profile." + std::to_string(i));
        apps.push_back(
            std::make_unique<test::BackgroundProcess>(app / "Contents" / "MacOS" / ("Claude " + std::to_string(i)),
                test::BackgroundProcess::Options {.arguments = {"Claude", "3600"}}));
    }
    const auto korvel = bundle(folder.path(), "Korvel", "com.veldrane.Korvel");

    QCoreApplication application(argc, argv);
    const long baseline = residentKiB();
    LinuxPlatform platform(korvel / "Contents" / "MacOS" / "Korvel");
    QTimer::singleShot(1000, &application, [] {}); // settle: first scan and classification are done
    const double cpuBefore = cpuSeconds();
    QTimer::singleShot(seconds * 1000, &application, &QCoreApplication::quit);
    application.exec();
    const double used = cpuSeconds() - cpuBefore;
    std::printf("idle %d s: %.3f s CPU = %.3f %% of one core; last scan %.0f µs; %zu applications\n", seconds, used,
        100.0 * used / seconds, static_cast<double>(platform.workspace().lastScanDuration().count()) / 1000.0,
        platform.workspace().runningApplications().size());
    std::printf(
        "resident memory: %ld KiB with the platform, %ld KiB before it (Qt core only)\n", residentKiB(), baseline);
    return 0;
}
