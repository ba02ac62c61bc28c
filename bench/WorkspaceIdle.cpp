// Korvel's platform layer idle on a desktop with ten profile apps and PROCESSES other idle processes running, and,
// under scripts/virtual-desktop, another program's window in front: nothing changes, so the workspace should
// cost next to nothing. Measured beside a minimal Qt tray program — this very process with a tray icon and
// nothing else, for the same time just before — in the same run. Prints CPU time as a share of one core, wakeups
// (context switches) per second and resident memory for both.
//
//     scripts/virtual-desktop build/default/bench/korvel-workspace-idle [SECONDS] [PROCESSES]   (60, 3000)

#include "app/platform/linux/LinuxPlatform.hpp"
#include "core/building/InfoPlistPatcher.hpp"
#include "tests/support/BackgroundProcess.hpp"
#include "tests/support/TempDir.hpp"

#include <QApplication>
#include <QSystemTrayIcon>
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

long wakeups()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

// CPU share of one core and wakeups per second while the event loop idles for `seconds`.
std::pair<double, double> idleFor(QApplication& application, int seconds)
{
    const double cpuBefore = cpuSeconds();
    const long wakeupsBefore = wakeups();
    QTimer::singleShot(seconds * 1000, &application, &QCoreApplication::quit);
    application.exec();
    return {100.0 * (cpuSeconds() - cpuBefore) / seconds, static_cast<double>(wakeups() - wakeupsBefore) / seconds};
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
    const int others = argc > 2 ? std::atoi(argv[2]) : 3000;
    test::TempDir folder;
    for (const char* variable : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"})
        ::setenv(variable, (folder / variable).c_str(), 1);
    ::setenv("HOME", folder.path().c_str(), 1);

    std::vector<std::unique_ptr<test::BackgroundProcess>> processes;
    for (int i = 0; i < 10; ++i) {
        const auto app =
            bundle(folder.path(), "Claude " + std::to_string(i), "com.veldrane.Korvel.profile." + std::to_string(i));
        processes.push_back(
            std::make_unique<test::BackgroundProcess>(app / "Contents" / "MacOS" / ("Claude " + std::to_string(i)),
                test::BackgroundProcess::Options {.arguments = {"Claude", "3600"}}));
    }
    for (int i = 0; i < others; ++i)
        processes.push_back(std::make_unique<test::BackgroundProcess>(
            "/bin/sleep", test::BackgroundProcess::Options {.arguments = {"sleep", "3600"}}));
    // Another program's window in front, when there is a display.
    if (std::getenv("DISPLAY"))
        processes.push_back(std::make_unique<test::BackgroundProcess>(
            "/usr/bin/xmessage", test::BackgroundProcess::Options {.arguments = {"xmessage", "in front"}}));
    const auto korvel = bundle(folder.path(), "Korvel", "com.veldrane.Korvel");

    if (!std::getenv("DISPLAY"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    QSystemTrayIcon tray(QIcon::fromTheme("applications-system"));
    tray.show();
    QTimer::singleShot(1000, &application, &QCoreApplication::quit); // settle
    application.exec();
    const long trayMemory = residentKiB();
    const auto [trayCpu, trayWakeups] = idleFor(application, seconds);

    LinuxPlatform platform(korvel / "Contents" / "MacOS" / "Korvel");
    QTimer::singleShot(2000, &application, &QCoreApplication::quit); // the first look and its events
    application.exec();
    const int scansBefore = platform.workspace().scans();
    const auto [cpu, wakeupsPerSecond] = idleFor(application, seconds);
    std::printf("%d processes of no app, %zu applications, %d looks at /proc while idle (last %.0f µs)\n", others,
        platform.workspace().runningApplications().size(), platform.workspace().scans() - scansBefore,
        static_cast<double>(platform.workspace().lastScanDuration().count()) / 1000.0);
    std::printf(
        "minimal tray program: %.3f %% of one core, %.1f wakeups/s, %ld KiB\n", trayCpu, trayWakeups, trayMemory);
    std::printf(
        "with Korvel's platform: %.3f %% of one core, %.1f wakeups/s, %ld KiB\n", cpu, wakeupsPerSecond, residentKiB());
    std::printf("difference: %+.3f %% of one core, %+.1f wakeups/s\n", cpu - trayCpu, wakeupsPerSecond - trayWakeups);
    return 0;
}
