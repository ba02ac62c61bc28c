// How fast Korvel is in the tray and how much memory it holds there, with ten built profiles, against the stand-in
// Claude Desktop (a minimal Qt Widgets program with one window) measured the same way in the same run:
//
//     scripts/virtual-desktop build/default/bench/KorvelStartBench [runs]
//
// Time: from the fork of the process until its first window is viewable — for Korvel, with a tray on the desktop
// and the welcome done, that is the tray icon embedded by the tray. Memory: resident set after two idle seconds.

#include "app/model/AppModel.hpp"
#include "app/platform/linux/LinuxUserDefaults.hpp"
#include "core/building/CloneBuilder.hpp"
#include "core/model/AppPaths.hpp"
#include "core/model/ProfileStore.hpp"
#include "core/model/Timestamp.hpp"

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const fs::path binaryDir = KORVEL_BINARY_DIR;
const fs::path sourceDir = KORVEL_SOURCE_DIR;

pid_t spawn(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + arguments[0]);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void runToEnd(const std::vector<std::string>& arguments)
{
    int status = 0;
    ::waitpid(spawn(arguments), &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(arguments[0] + " failed");
}

// The X11 side: is there a viewable window that belongs to `pid`?
class Display
{
public:
    Display()
        : m_connection(xcb_connect(nullptr, nullptr))
    {
        if (xcb_connection_has_error(m_connection))
            throw std::runtime_error("no X display; run under scripts/virtual-desktop");
        m_pidAtom = atom("_NET_WM_PID");
    }
    ~Display() { xcb_disconnect(m_connection); }

    bool showsWindowOf(pid_t pid)
    {
        return search(xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root, pid);
    }

private:
    xcb_atom_t atom(const char* name)
    {
        auto* reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return value;
    }

    bool viewableOf(xcb_window_t window, pid_t pid)
    {
        auto* attributes =
            xcb_get_window_attributes_reply(m_connection, xcb_get_window_attributes(m_connection, window), nullptr);
        const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attributes);
        if (!viewable)
            return false;
        auto* property = xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, m_pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
        const bool ours = property && xcb_get_property_value_length(property) == 4 &&
            *static_cast<uint32_t*>(xcb_get_property_value(property)) == static_cast<uint32_t>(pid);
        std::free(property);
        return ours;
    }

    bool search(xcb_window_t window, pid_t pid)
    {
        if (viewableOf(window, pid))
            return true;
        auto* tree = xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, window), nullptr);
        if (!tree)
            return false;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        const int count = xcb_query_tree_children_length(tree);
        bool found = false;
        for (int i = 0; i < count && !found; ++i)
            found = search(children[i], pid);
        std::free(tree);
        return found;
    }

    xcb_connection_t* m_connection;
    xcb_atom_t m_pidAtom = XCB_ATOM_NONE;
};

long residentKilobytes(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:"))
            return std::stol(line.substr(6));
    }
    return -1;
}

struct Sample
{
    double milliseconds = 0;
    long kilobytes = 0;
};

Sample measure(const std::vector<std::string>& arguments, Display& display)
{
    const auto started = Clock::now();
    const pid_t pid = spawn(arguments);
    while (!display.showsWindowOf(pid)) {
        if (Clock::now() - started > 30s) {
            ::kill(pid, SIGKILL);
            throw std::runtime_error(arguments[0] + " showed nothing within 30 s");
        }
        std::this_thread::sleep_for(1ms);
    }
    Sample sample;
    sample.milliseconds = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
    std::this_thread::sleep_for(2s);
    sample.kilobytes = residentKilobytes(pid);
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return sample;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A home with Claude Desktop, ten profiles with built apps and the welcome done: Korvel starts straight into the
// tray.
fs::path prepareSandbox()
{
    char pattern[] = "/tmp/korvel-start-bench-XXXXXX";
    const fs::path sandbox = ::mkdtemp(pattern);
    const fs::path home = sandbox / "home";
    for (const fs::path& folder : {home / ".local/share", home / ".config", sandbox / "runtime"})
        fs::create_directories(folder);
    fs::permissions(sandbox / "runtime", fs::perms::owner_all);
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (sandbox / "runtime").c_str(), 1);
    ::setenv("KORVEL_CLAUDE_APP", (sandbox / "Claude.app").c_str(), 1);
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    runToEnd(
        {"/bin/bash", (sourceDir / "demo/make-claude-app").string(), sandbox.string(), "--build", binaryDir.string()});

    const korvel::AppPaths paths = korvel::AppPaths::live();
    std::vector<korvel::Profile> profiles;
    for (int i = 0; i < 10; ++i) {
        const auto color = korvel::ProfileColor::allCases()[static_cast<size_t>(i)];
        profiles.push_back(
            {korvel::Uuid::random(), "Profile " + std::to_string(i + 1), color, korvel::Timestamp::now()});
    }
    korvel::ProfileStore(paths.profilesFile()).save(profiles);
    const korvel::CloneBuilder builder(paths, binaryDir / "Korvel.app/Contents/MacOS/KorvelLauncher");
    for (const auto& profile : profiles)
        builder.build(profile);
    korvel::LinuxUserDefaults defaults;
    defaults.setBool(korvel::AppModel::didCompleteWelcomeKey, true);
    defaults.setBool(korvel::AppModel::launchAtLoginMarkerKey, true);
    return sandbox;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    try {
        Display display;
        const fs::path sandbox = prepareSandbox();
        const std::string korvel = (binaryDir / "Korvel.app/Contents/MacOS/Korvel").string();
        const std::string standIn = (sandbox / "Claude.app/Contents/MacOS/Claude").string();
        std::vector<double> korvelTimes, standInTimes, korvelMemory, standInMemory;
        measure({korvel}, display); // warms the caches for both
        for (int run = 0; run < runs; ++run) {
            const Sample k = measure({korvel}, display);
            const Sample s = measure({standIn, "--user-data-dir=" + (sandbox / "standin-data").string()}, display);
            korvelTimes.push_back(k.milliseconds);
            korvelMemory.push_back(static_cast<double>(k.kilobytes) / 1024);
            standInTimes.push_back(s.milliseconds);
            standInMemory.push_back(static_cast<double>(s.kilobytes) / 1024);
        }
        const double kTime = median(korvelTimes), sTime = median(standInTimes);
        const double kMemory = median(korvelMemory), sMemory = median(standInMemory);
        std::printf("Korvel with 10 built profiles, median of %d runs:\n", runs);
        std::printf("  start to tray icon shown: %6.0f ms   (target ≤ 400 ms)   stand-in Claude window: %6.0f ms   "
                    "ratio %.2f\n",
            kTime, sTime, kTime / sTime);
        std::printf("  resident memory idle:     %6.1f MB   (target ≤ 60 MB)    stand-in Claude:        %6.1f MB   "
                    "ratio %.2f\n",
            kMemory, sMemory, kMemory / sMemory);
        fs::remove_all(sandbox);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "KorvelStartBench: %s\n", error.what());
        return 1;
    }
}
