#include "tests/relay/WaylandStream.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/DeepNesting.hpp"
#include "tests/support/Fifo.hpp"
#include "tests/support/StandInClaude.hpp"
#include "tests/support/StandInRecord.hpp"
#include "tests/support/TempDir.hpp"

#include <functional>
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>

namespace fs = std::filesystem;
using namespace korvel::test;
using korvel::test::wire;

namespace {

// g_variant_print with types, taking over the reference.
std::string printed(GVariant* value)
{
    g_autofree gchar* text = g_variant_print(value, TRUE);
    g_variant_unref(value);
    return text;
}

// The gdbus arguments of the Notify call that shows `body` with one "OK" button, values as GLib prints them.
std::string notifyCall(const std::string& body)
{
    const char* actions[] = {"ok", "OK", nullptr};
    return "call --session --dest org.freedesktop.Notifications --object-path /org/freedesktop/Notifications "
           "--method org.freedesktop.Notifications.Notify " +
        printed(g_variant_ref_sink(g_variant_new("(susss^as@a{sv}i)", "Korvel", 0u, "", "Korvel", body.c_str(), actions,
            g_variant_new("a{sv}", nullptr), 0)));
}

// A profile app made by hand: the stand-in bundle with our launcher, the data folder in its Info.plist, and
// as Claude a compiled recorder, for a script cannot show its argument zero. Notices go to a stand-in gdbus
// that records its arguments and then lingers like a slow notification server.
class LauncherTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fs::create_directories(temp / "work dir");
        writeExecutable(
            gdbus, "#!/bin/sh\nprintf '%s\\000' \"$@\" >\"$0.part\" && mv \"$0.part\" \"$0.argv\"\nsleep 2\n");
        makeApp();
    }

    void makeApp()
    {
        fs::remove_all(temp / "Apps");
        fs::remove_all(temp / "Profile Data");
        bundle = temp / "Apps" / "Claude Work.app";
        fs::rename(StandInClaude::create(temp / "Apps"), bundle);
        StandInClaude::installLauncher(bundle, KORVEL_LAUNCHER_PATH, dataDir);
        fs::copy_file(KORVEL_ARGV_RECORDER_PATH, claude(), fs::copy_options::overwrite_existing);
    }

    fs::path claude() const { return StandInClaude::executable(bundle); }

    // Starts the launcher with argument zero as the desktop might give it: the name alone.
    ChildProcess::Result run(std::vector<std::string> arguments = {}, ChildProcess::Options options = {}) const
    {
        arguments.insert(arguments.begin(), "KorvelLauncher");
        options.arguments = arguments;
        options.environment.emplace("KORVEL_GDBUS", gdbus.string());
        options.environment.emplace("KORVEL_STANDIN_RECORD", (temp / "claude-record").string());
        options.workingDirectory = temp / "work dir";
        return ChildProcess::run(bundle / "Contents/MacOS/KorvelLauncher", options);
    }

    StandInRecord claudeRecord() const { return StandInRecord::readOne(temp / "claude-record"); }

    // The arguments the stand-in gdbus got, its values parsed without types as gdbus parses them.
    std::string postedNotice() const
    {
        const fs::path record = gdbus.string() + ".argv";
        for (int attempt = 0; attempt < 200 && !fs::exists(record); ++attempt)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        if (!fs::exists(record))
            return "no notice";
        const std::string bytes = readText(record);
        fs::remove(record);
        std::string command, values;
        for (size_t start = 0, end, index = 0; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1) {
            if (index++ < 8)
                command += bytes.substr(start, end - start) + " ";
            else
                values += (index > 9 ? ", " : "") + bytes.substr(start, end - start);
        }
        GVariant* call = g_variant_parse(nullptr, ("(" + values + ")").c_str(), nullptr, nullptr, nullptr);
        return call ? command + printed(call) : "unparsable values: " + values;
    }

    TempDir temp;
    fs::path bundle;
    fs::path gdbus = temp / "gdbus";
    // Characters the notice must quote, and two parent folders that do not exist yet.
    std::string dataDir = (temp / "Profile Data" / "it's a \\ “quoted”\tname" / "Data Folder").string();
};

TEST_F(LauncherTest, BecomesClaudeInTheSameProcessWithThePrivateProfileFolderFromXmlOrBinaryInfo)
{
    const mode_t previous = ::umask(0222);
    const auto result = run({"--user-data-dir=/elsewhere", "--foo", "--user-data-dir", "value after a bare switch",
                                "--user-data-dirt", "", "claude://open a link", "-user-data-dir=/elsewhere", "-",
                                "--enable-features=UseOzonePlatform", "--", "--gpu-launcher=/tmp/x"},
        {.environment = {{"KORVEL_PROBE", "a value with blanks"}}});
    ::umask(previous);

    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    const auto record = claudeRecord();
    // Claude's own path first; switches that change what runs are dropped (Chromium reads one dash as well as
    // two, and a value only after "="); the profile's folder is one argument.
    EXPECT_EQ(record.arguments,
        (std::vector<std::string> {claude().string(), "--user-data-dir=" + dataDir, "--foo",
            "value after a bare switch", "", "claude://open a link", "-", "--enable-features=UseOzonePlatform", "--"}));
    EXPECT_EQ(record.pid, result.pid) << "Claude must replace the launcher, not run as its child";
    EXPECT_EQ(record.workingDirectory, (temp / "work dir").string());
    EXPECT_EQ(record.environment.at("KORVEL_PROBE"), "a value with blanks");
    for (const fs::path& folder : {temp / "Profile Data", fs::path(dataDir).parent_path(), fs::path(dataDir)})
        EXPECT_EQ(modeOf(folder), 0700u) << folder;

    // An existing folder keeps its mode; a binary Info.plist reads as well.
    fs::remove(temp / "claude-record");
    fs::permissions(dataDir, fs::perms(0755));
    StandInClaude::convertInfoToBinary(bundle);
    EXPECT_EQ(run({"--foo"}).exitStatus, 0);
    EXPECT_EQ(claudeRecord().arguments,
        (std::vector<std::string> {claude().string(), "--user-data-dir=" + dataDir, "--foo"}));
    EXPECT_EQ(modeOf(dataDir), 0755u);
}

TEST_F(LauncherTest, RunsClaudeThroughXWaylandOnlyWhenTheAppAsksAndTheWaylandSessionHasIt)
{
    const std::optional<std::string> unset;
    // The app's choice, WAYLAND_DISPLAY, DISPLAY, and whether Claude is told to use X11.
    const std::vector<
        std::tuple<std::optional<std::string>, std::optional<std::string>, std::optional<std::string>, bool>>
        cases = {
            {"xwayland", "wayland-1", ":1", true},
            {"xwayland", "wayland-1", "", false}, // a Wayland session without XWayland
            {"xwayland", unset, ":1", false}, // X11 already
            {"native", "wayland-1", ":1", false}, {unset, "wayland-1", ":1", false}, // built before the choice existed
            {"relay?", "wayland-1", ":1", false}, // not a choice this launcher knows
        };
    for (const auto& [choice, wayland, display, throughX11] : cases) {
        SCOPED_TRACE(choice.value_or("no choice") + " " + wayland.value_or("-") + " " + display.value_or("-"));
        StandInClaude::setInfo(
            bundle, "KVLTaskBarIdentity", choice ? std::optional<korvel::PlistValue>(*choice) : std::nullopt);
        fs::remove(temp / "claude-record");
        ASSERT_EQ(
            run({"--", "claude://x"}, {.environment = {{"WAYLAND_DISPLAY", wayland}, {"DISPLAY", display}}}).exitStatus,
            0);
        std::vector<std::string> expected {claude().string(), "--user-data-dir=" + dataDir, "--", "claude://x"};
        if (throughX11)
            expected.insert(expected.begin() + 2, "--ozone-platform=x11");
        EXPECT_EQ(claudeRecord().arguments, expected);
    }
}

TEST_F(LauncherTest, DropsTheSwitchesThatLowerTheWebSecurityOrExposeTraffic)
{
    const std::vector<std::string> lowering = {"--disable-web-security", "--log-net-log=/tmp/n.json",
        "--net-log-capture-mode=Everything", "--auto-open-devtools-for-tabs", "-ignore-certificate-errors",
        "--ignore-certificate-errors-spki-list=abc", "--allow-insecure-localhost", "--ssl-key-log-file=/tmp/k",
        "--allow-running-insecure-content", "--unsafely-treat-insecure-origin-as-secure=http://x",
        "--disable-site-isolation-trials", "--allow-file-access-from-files", "--proxy-server=http://x:1",
        "--proxy-pac-url=http://x/p", "--host-resolver-rules=MAP * x", "--host-rules=MAP * x",
        "--custom-devtools-frontend=http://x", "--remote-allow-origins=*"};
    std::vector<std::string> arguments = lowering;
    arguments.push_back("--ignore-gpu-blocklist");
    ASSERT_EQ(run(arguments).exitStatus, 0);
    EXPECT_EQ(claudeRecord().arguments,
        (std::vector<std::string> {claude().string(), "--user-data-dir=" + dataDir, "--ignore-gpu-blocklist"}));
}

TEST_F(LauncherTest, ClaudeConnectsThroughTheProfilesRelayOrStraightToTheCompositorWithoutOne)
{
    const fs::path runtime = temp / "run";
    fs::create_directory(runtime);
    fs::permissions(runtime, fs::perms(0700));
    sockaddr_un address {AF_UNIX, {}};
    (runtime / "wayland-9").string().copy(address.sun_path, sizeof address.sun_path - 1);
    const int compositor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::bind(compositor, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(compositor, 4), 0);
    StandInClaude::setInfo(bundle, "KVLTaskBarIdentity", std::string("relay"));
    StandInClaude::setInfo(bundle, "CFBundleIdentifier", std::string("com.example.work"));
    // Claude names its window "Claude"; the compositor is to see the bundle's identifier.
    const std::string toplevel = wire(1, 1, {2u}) + wire(2, 0, {7u, std::string("xdg_wm_base"), 5u, 3u}) +
        wire(3, 2, {4u, 10u}) + wire(4, 1, {5u});
    writeText(temp / "messages", toplevel + wire(5, 3, {std::string("Claude")}));
    const fs::path relay = bundle / "Contents/MacOS/KorvelRelay";
    for (const bool withRelay : {true, false}) {
        SCOPED_TRACE(withRelay);
        if (withRelay)
            writeExecutable(relay, readText(KORVEL_RELAY_PATH));
        else
            fs::remove(relay);
        fs::remove(temp / "claude-record");
        std::thread claude([&] {
            EXPECT_EQ(run({},
                          {.environment = {{"WAYLAND_DISPLAY", "wayland-9"}, {"XDG_RUNTIME_DIR", runtime.string()},
                               {"DISPLAY", ":1"}, {"KORVEL_STANDIN_WAYLAND_MESSAGES", (temp / "messages").string()}}})
                          .exitStatus,
                0);
        });
        const int connection = ::accept4(compositor, nullptr, nullptr, SOCK_CLOEXEC);
        const std::string expected = toplevel + wire(5, 3, {std::string(withRelay ? "com.example.work" : "Claude")});
        std::string received(expected.size(), '\0');
        EXPECT_EQ(::recv(connection, received.data(), received.size(), MSG_WAITALL), ssize_t(expected.size()));
        EXPECT_EQ(received, expected);
        const std::string display = claudeRecord().environment.at("WAYLAND_DISPLAY");
        const fs::path folder = runtime / fs::path(display).parent_path();
        if (withRelay) {
            EXPECT_TRUE(display.starts_with("korvel-relay-") && display.ends_with("/wayland-0")) << display;
            EXPECT_EQ(modeOf(folder), 0700u);
        } else {
            EXPECT_EQ(display, "wayland-9");
        }
        // The compositor hangs up, Claude ends; the relay follows with its folder, a failed start left none.
        ::close(connection);
        claude.join();
        for (int attempt = 0; attempt < 500 && fs::exists(folder) && withRelay; ++attempt)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(std::distance(fs::directory_iterator(runtime), {}), 1) << "only the compositor's socket is left";
    }
    ::close(compositor);
}

TEST_F(LauncherTest, EachFailureEndsAtOnceWithItsLineAndTheSameNotice)
{
    const std::string noFolder = "This profile app has no data folder configured.",
                      noClaude = "Claude's executable is missing from this profile app.",
                      folderFailed = "Could not create the profile data folder at " + dataDir + ": ";
    const auto moveTo = [&](const std::string& name) {
        fs::rename(std::exchange(bundle, temp / "Apps" / name), bundle);
    };
    // What breaks the app, what the launcher says, whether it made the data folder first.
    const std::vector<std::tuple<std::function<void()>, std::string, bool>> cases = {
        {[&] { StandInClaude::setInfo(bundle, "KVLUserDataDir", "Profile Data/x"); }, noFolder, false},
        {[&] { StandInClaude::setInfo(bundle, "KVLUserDataDir", std::nullopt); }, noFolder, false},
        {[&] { StandInClaude::setInfo(bundle, "KVLUserDataDir", 7); }, noFolder, false},
        {[&] { writeText(bundle / "Contents/Info.plist", "KVLUserDataDir=/tmp/x\n"); }, noFolder, false},
        {[&] { writeText(bundle / "Contents/Info.plist", DeepNesting::binaryPlist(500000)); }, noFolder, false},
        {[&] { fs::remove(bundle / "Contents/Info.plist"), Fifo::make(bundle / "Contents/Info.plist"); }, noFolder,
            false},
        {[&] { moveTo("Claude Work.APP"); }, "The launcher must run from inside a profile app bundle.", false},
        {[&] { moveTo("Claude Work"); }, "The launcher must run from inside a profile app bundle.", false},
        {[&] { fs::remove(claude()); }, noClaude, true},
        {[&] { fs::permissions(claude(), fs::perms(0644)); }, noClaude, true},
        {[&] { fs::remove(claude()), fs::create_directory(claude()); }, noClaude, true},
        {[&] { writeText(claude(), "\177ELF not really"); }, "Could not start Claude: Exec format error", true},
        {[&] { writeText(temp / "Profile Data", "a file where a folder belongs"); }, folderFailed + "Not a directory",
            false},
        {[&] { writeText(dataDir, "a file where the data folder belongs"); }, folderFailed + "File exists", false},
    };
    for (const auto& [breakIt, message, folderMade] : cases) {
        SCOPED_TRACE(message);
        makeApp();
        breakIt();

        const auto result = run();
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.standardError, "KorvelLauncher: " + message + "\n");
        EXPECT_EQ(result.standardOutput, "");
        // The stand-in gdbus lingers: a launcher that waited for it, or left it our pipes, would take seconds.
        EXPECT_LT(result.seconds, 1.0);
        EXPECT_EQ(postedNotice(), notifyCall(message + "\n\nOpen Korvel and choose “Rebuild App” for this profile."));
        EXPECT_EQ(fs::is_directory(dataDir), folderMade);
        EXPECT_FALSE(fs::exists(temp / "work dir/Profile Data"));
    }
}

} // namespace
