#include "tests/support/SwaySession.hpp"
#include "tests/support/ChildProcess.hpp"

#include <nlohmann/json.hpp>

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace korvel::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Sway refuses root; the test's root then hands the compositor to an unprivileged account.
bool asRoot()
{
    return ::geteuid() == 0;
}

std::string userName()
{
    const passwd* entry = ::getpwuid(::getuid());
    return entry ? entry->pw_name : std::to_string(::getuid());
}

// The program run as sway's user, its standard error going to `log`.
ProcessOptions unprivileged(std::vector<std::string> command, const fs::path& log,
    std::map<std::string, std::optional<std::string>> environment)
{
    if (asRoot())
        command.insert(
            command.begin(), {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--pdeathsig=SIGKILL"});
    std::vector<std::string> arguments {"sh", "-c", "log=$1; shift; exec \"$@\" 2>\"$log\"", "sh", log.string()};
    arguments.insert(arguments.end(), command.begin(), command.end());
    return {.arguments = arguments, .environment = std::move(environment)};
}

void handToSwayUser(const fs::path& path)
{
    if (!asRoot())
        return;
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody || ::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
        throw std::runtime_error("cannot hand " + path.string() + " to nobody");
}

std::string tail(const fs::path& log)
{
    const std::string text = fs::exists(log) ? readText(log) : "";
    return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
}

// Written once XWayland accepts the test's user: the session's Wayland socket, X display and IPC socket.
std::string readyScript(const fs::path& ready)
{
    return "#!/bin/sh\nxhost +si:localuser:" + userName() + " >/dev/null || exit 1\n" +
        "printf '%s\\n%s\\n%s\\n' \"$WAYLAND_DISPLAY\" \"$DISPLAY\" \"$SWAYSOCK\" >'" + ready.string() +
        ".new' && mv '" + ready.string() + ".new' '" + ready.string() + "'\n";
}

// A session bus that every local user may use: sway's user for swaybar, the test's for its clients.
std::string busConfig(const fs::path& socket)
{
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>session</type><listen>unix:path=" +
        socket.string() +
        "</listen><auth>EXTERNAL</auth>\n"
        "<policy context=\"default\"><allow user=\"*\"/><allow send_destination=\"*\" eavesdrop=\"true\"/>"
        "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
}

std::map<pid_t, pid_t> parentsOfAllProcesses()
{
    std::map<pid_t, pid_t> parents;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string text;
        if (!std::getline(stat, text) || text.rfind(')') == std::string::npos)
            continue;
        std::istringstream rest(text.substr(text.rfind(')') + 2));
        char state = 0;
        pid_t parent = 0;
        rest >> state >> parent;
        if (state != 'Z')
            parents[std::stoi(name)] = parent;
    }
    return parents;
}

bool isRunning(pid_t pid)
{
    const auto parents = parentsOfAllProcesses();
    return parents.contains(pid);
}

void collectWindows(const nlohmann::json& node, std::vector<SwayWindow>& windows)
{
    if (node.contains("pid") && node["pid"].is_number()) {
        SwayWindow window;
        window.id = node.value("id", 0LL);
        window.pid = node["pid"].get<pid_t>();
        window.appId = node.value("app_id", nlohmann::json()).is_string() ? node["app_id"].get<std::string>() : "";
        if (node.contains("window_properties"))
            window.x11Class = node["window_properties"].value("class", "");
        window.title = node.value("name", nlohmann::json()).is_string() ? node["name"].get<std::string>() : "";
        window.focused = node.value("focused", false);
        window.xwayland = node.value("shell", "") == "xwayland";
        windows.push_back(window);
    }
    for (const char* children : {"nodes", "floating_nodes"})
        if (node.contains(children))
            for (const auto& child : node[children])
                collectWindows(child, windows);
}

} // namespace

std::optional<std::string> SwaySession::unavailable()
{
    for (const char* program : {"/usr/bin/sway", "/usr/bin/swaymsg", "/usr/bin/Xwayland", "/usr/bin/xhost"})
        if (::access(program, X_OK) != 0)
            return std::string(program) + " is not installed (scripts/setup installs it)";
    return std::nullopt;
}

SwaySession::SwaySession(Options options)
    : m_runtime(m_folder / "runtime")
{
    fs::permissions(m_folder.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::create_directory(m_runtime);
    fs::permissions(m_runtime, fs::perms::owner_all);
    handToSwayUser(m_runtime);
    const fs::path ready = m_runtime / "ready";
    writeExecutable(m_folder / "ready.sh", readyScript(ready));
    std::string config = "xwayland enable\nexec " + (m_folder / "ready.sh").string() + "\n";
    if (options.tray) {
        writeText(m_folder / "bus.conf", busConfig(m_runtime / "bus"));
        m_bus = std::make_unique<BackgroundProcess>("/bin/sh",
            unprivileged(
                {"dbus-daemon", "--nofork", "--print-address=1", "--config-file=" + (m_folder / "bus.conf").string()},
                m_folder / "bus.log", {{"XDG_RUNTIME_DIR", m_runtime.string()}}));
        const auto address = m_bus->waitForLine("unix:", 20s);
        if (!address)
            throw std::runtime_error("the session bus did not start: " + tail(m_folder / "bus.log"));
        m_sessionBus = *address;
        config += "bar {\n    position top\n    tray_output *\n}\n";
    }
    writeText(m_folder / "config", config);
    fs::permissions(m_folder / "config",
        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);

    const fs::path log = m_folder / "sway.log";
    std::map<std::string, std::optional<std::string>> environment {{"WLR_BACKENDS", "headless"},
        {"WLR_LIBINPUT_NO_DEVICES", "1"}, {"WLR_HEADLESS_OUTPUTS", "1"}, {"WLR_RENDERER", "pixman"},
        {"XDG_RUNTIME_DIR", m_runtime.string()}, {"HOME", m_runtime.string()}, {"WAYLAND_DISPLAY", std::nullopt},
        {"DISPLAY", std::nullopt}, {"SWAYSOCK", std::nullopt}, {"I3SOCK", std::nullopt},
        {"DBUS_SESSION_BUS_ADDRESS", options.tray ? std::optional(m_sessionBus) : std::nullopt}};
    m_sway = std::make_unique<BackgroundProcess>(
        "/bin/sh", unprivileged({"sway", "-c", (m_folder / "config").string()}, log, environment));
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!fs::exists(ready)) {
        if (m_sway->wait(100ms) || std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("sway did not start: " + tail(log));
    }
    std::istringstream lines(readText(ready));
    std::string wayland;
    std::getline(lines, wayland);
    std::getline(lines, m_x11Display);
    std::getline(lines, m_ipcSocket);
    m_waylandDisplay = wayland.starts_with('/') ? wayland : (m_runtime / wayland).string();
}

SwaySession::~SwaySession()
{
    // XWayland, swaybar and whatever the configuration started would outlive a killed sway: gather them first.
    const std::vector<pid_t> started = descendantsOfSway();
    m_sway.reset();
    for (const pid_t pid : started)
        ::kill(pid, SIGTERM);
    for (const pid_t pid : started) {
        for (int tries = 0; tries < 50 && isRunning(pid); ++tries)
            std::this_thread::sleep_for(50ms);
        if (isRunning(pid))
            ::kill(pid, SIGKILL);
    }
    m_bus.reset();
}

std::vector<pid_t> SwaySession::descendantsOfSway() const
{
    const auto parents = parentsOfAllProcesses();
    std::vector<pid_t> found {m_sway->pid()};
    for (size_t next = 0; next < found.size(); ++next)
        for (const auto& [pid, parent] : parents)
            if (parent == found[next])
                found.push_back(pid);
    found.erase(found.begin());
    return found;
}

std::map<std::string, std::optional<std::string>> SwaySession::environment() const
{
    std::map<std::string, std::optional<std::string>> variables {{"WAYLAND_DISPLAY", m_waylandDisplay},
        {"DISPLAY", m_x11Display}, {"SWAYSOCK", m_ipcSocket}, {"XDG_SESSION_TYPE", "wayland"}};
    if (!m_sessionBus.empty())
        variables["DBUS_SESSION_BUS_ADDRESS"] = m_sessionBus;
    return variables;
}

std::string SwaySession::message(const std::vector<std::string>& arguments) const
{
    std::vector<std::string> command {"swaymsg", "-s", m_ipcSocket};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const auto result = ChildProcess::run("/usr/bin/swaymsg", {.arguments = command});
    if (result.exitStatus != 0)
        throw std::runtime_error("swaymsg failed: " + result.standardError + result.standardOutput);
    return result.standardOutput;
}

std::vector<SwayWindow> SwaySession::windows() const
{
    std::vector<SwayWindow> windows;
    collectWindows(nlohmann::json::parse(message({"-t", "get_tree"})), windows);
    return windows;
}

bool SwaySession::screenshot(const fs::path& file) const
{
    if (::access("/usr/bin/grim", X_OK) != 0)
        return false;
    const auto result =
        ChildProcess::run("/usr/bin/grim", {.arguments = {"grim", file.string()}, .environment = environment()});
    return result.exitStatus == 0;
}

} // namespace korvel::test
