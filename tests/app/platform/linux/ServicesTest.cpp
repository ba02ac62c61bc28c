#include "app/platform/linux/LinuxClock.hpp"
#include "app/platform/linux/LinuxFileViewer.hpp"
#include "app/platform/linux/LinuxLoginItem.hpp"
#include "app/platform/linux/LinuxMainBundle.hpp"
#include "app/platform/linux/LinuxPasteboard.hpp"
#include "app/platform/linux/LinuxPlatform.hpp"
#include "app/platform/linux/LinuxTerminal.hpp"
#include "app/platform/linux/LinuxTrash.hpp"
#include "app/platform/linux/LinuxUserDefaults.hpp"
#include "core/support/DesktopEntry.hpp"
#include "core/support/FileError.hpp"
#include "tests/app/platform/linux/Sandbox.hpp"
#include "tests/app/platform/linux/TestBundle.hpp"
#include "tests/app/support/Await.hpp"
#include "tests/support/BackgroundProcess.hpp"

#include <QClipboard>
#include <QDBusConnection>
#include <QGuiApplication>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace korvel;
using namespace korvel::test;
using namespace std::chrono_literals;

namespace {

// Stands in for a file manager on a private bus.
class FakeFileManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shown;

public slots:
    Q_SCRIPTABLE void ShowItems(const QStringList& uris, const QString& startupId)
    {
        Q_UNUSED(startupId);
        shown += uris;
    }
};

// The services that need a GUI application get one on Qt's offscreen platform.
class LinuxServicesTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        static Sandbox suiteSandbox; // Qt reads nothing of the real home either
        suiteSandbox.set("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "LinuxServicesTest";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QGuiApplication(argc, argv);
    }

    // A program that writes its arguments to `record`, installed as `name` in a folder of its own; the folder.
    std::filesystem::path recorder(const std::string& name, const std::filesystem::path& record)
    {
        const auto folder = sandbox.root() / ("bin-" + name);
        std::filesystem::create_directories(folder);
        writeText(folder / name, TestBundle::recordingScript(record));
        std::filesystem::permissions(folder / name, std::filesystem::perms(0755));
        return folder;
    }

    static std::vector<std::string> recorded(const std::filesystem::path& record)
    {
        if (!waitUntil([&] { return std::filesystem::exists(record); }))
            return {};
        std::vector<std::string> arguments;
        std::string text = readText(record);
        for (size_t end; (end = text.find('\0')) != std::string::npos; text.erase(0, end + 1))
            arguments.push_back(text.substr(0, end));
        return arguments;
    }

    Sandbox sandbox;
};

} // namespace

TEST_F(LinuxServicesTest, LoginItemIsAnAutostartEntryThatTheDesktopRuns)
{
    const std::filesystem::path record = sandbox.root() / "started";
    const auto bundle = TestBundle::withScript(
        sandbox.root() / "My \"Apps\"", "Korvel", "com.veldrane.Korvel", "Korvel", TestBundle::recordingScript(record));
    LinuxLoginItem item(TestBundle::executable(bundle));
    const auto entry = sandbox.configHome() / "autostart" / "korvel.desktop";
    EXPECT_EQ(LinuxLoginItem::defaultEntry(), entry);
    EXPECT_FALSE(item.isEnabled());

    item.enable();
    EXPECT_TRUE(item.isEnabled());
    EXPECT_EQ(DesktopEntry::read(entry).value("Type"), "Application");
    // GLib runs the entry as a session would at login: Korvel's executable, despite quotes and blanks.
    BackgroundProcess launch("/usr/bin/gio",
        BackgroundProcess::Options {
            .arguments = {"gio", "launch", entry.string()}, .environment = sandbox.environment()});
    EXPECT_EQ(launch.wait(), 0);
    EXPECT_TRUE(waitUntil([&] { return std::filesystem::exists(record); }));

    // The desktop's own way of switching an entry off.
    writeText(entry, readText(entry) + "Hidden=true\n");
    EXPECT_FALSE(item.isEnabled());
    item.enable();
    EXPECT_TRUE(item.isEnabled());
    item.disable();
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_FALSE(item.isEnabled());
    EXPECT_NO_THROW(item.disable());

    writeText(sandbox.root() / "plain-file", "");
    LinuxLoginItem blocked(TestBundle::executable(bundle), sandbox.root() / "plain-file" / "autostart" / "k.desktop");
    EXPECT_THROW(blocked.enable(), FileError);
    EXPECT_FALSE(blocked.isEnabled());
}

TEST_F(LinuxServicesTest, UserDefaultsPersistInKorvelsSettingsFileAndRegisteredDefaultsDoNot)
{
    EXPECT_EQ(LinuxUserDefaults::defaultFile(), sandbox.configHome() / "Korvel" / "Korvel.conf");
    {
        LinuxUserDefaults defaults;
        defaults.registerDefault("autoUpdateProfileApps", true);
        EXPECT_TRUE(defaults.boolForKey("autoUpdateProfileApps"));
        EXPECT_FALSE(defaults.boolForKey("didCompleteWelcome"));
        defaults.setBool("autoUpdateProfileApps", false);
        defaults.setBool("routeClaudeLinks", true);
    }
    EXPECT_NE(readText(LinuxUserDefaults::defaultFile()).find("autoUpdateProfileApps=false"), std::string::npos);
    LinuxUserDefaults later;
    later.registerDefault("autoUpdateProfileApps", true);
    EXPECT_FALSE(later.boolForKey("autoUpdateProfileApps")) << "a stored value beats the registered default";
    EXPECT_TRUE(later.boolForKey("routeClaudeLinks"));
    later.registerDefault("didCompleteWelcome", true);
    EXPECT_TRUE(LinuxUserDefaults().boolForKey("routeClaudeLinks"));
    EXPECT_FALSE(LinuxUserDefaults().boolForKey("didCompleteWelcome")) << "defaults are not persisted";
}

TEST_F(LinuxServicesTest, TrashFollowsTheFreeDesktopLayoutWithTheOriginalLocation)
{
    LinuxTrash trash;
    const auto file = sandbox.home() / "My Report.txt";
    writeText(file, "first");
    const auto folder = sandbox.dataHome() / "Korvel" / "Profiles" / "0F4C6A2E";
    std::filesystem::create_directories(folder / "Data");
    writeText(folder / "Data" / "Local State", "{}");

    await(trash.moveToTrash(file));
    await(trash.moveToTrash(folder));
    writeText(file, "second");
    await(trash.moveToTrash(file)); // the same name again

    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(std::filesystem::exists(folder));
    const auto trashFolder = sandbox.dataHome() / "Trash";
    EXPECT_EQ(readText(trashFolder / "files" / "0F4C6A2E" / "Data" / "Local State"), "{}");
    std::vector<std::string> contents;
    std::vector<std::string> origins;
    for (const auto& item : std::filesystem::directory_iterator(trashFolder / "files")) {
        if (item.is_regular_file())
            contents.push_back(readText(item.path()));
        const std::string info = readText(trashFolder / "info" / (item.path().filename().string() + ".trashinfo"));
        EXPECT_TRUE(info.starts_with("[Trash Info]\n")) << info;
        EXPECT_NE(info.find("DeletionDate="), std::string::npos);
        const size_t path = info.find("Path=");
        ASSERT_NE(path, std::string::npos);
        origins.push_back(info.substr(path + 5, info.find('\n', path) - path - 5));
    }
    std::sort(contents.begin(), contents.end());
    std::sort(origins.begin(), origins.end());
    EXPECT_EQ(contents, (std::vector<std::string> {"first", "second"}));
    // Path= holds the original location, URL-escaped as the layout asks (or not, as Qt writes it).
    for (std::string& origin : origins)
        origin = QUrl::fromPercentEncoding(QByteArray::fromStdString(origin)).toStdString();
    EXPECT_EQ(origins, (std::vector<std::string> {folder.string(), file.string(), file.string()}));

    try {
        await(trash.moveToTrash(sandbox.root() / "gone"));
        ADD_FAILURE() << "trashed a missing item";
    } catch (const FileError& error) {
        EXPECT_EQ(error.kind(), FileError::Kind::ReadNoSuchFile);
    }
    // A trash that cannot be set up is an error, and nothing moves anywhere else.
    const auto blocked = sandbox.root() / "blocked";
    writeText(blocked, "");
    sandbox.set("XDG_DATA_HOME", (blocked / "data").string());
    writeText(file, "third");
    EXPECT_THROW(await(trash.moveToTrash(file)), FileError);
    EXPECT_EQ(readText(file), "third");
}

TEST_F(LinuxServicesTest, TerminalRunsTheCommandFileAsOneArgumentInTheFirstTerminalFound)
{
    const auto commandFile = sandbox.root() / "Work $HOME" / "Claude Code.command";
    const auto preferred = recorder("my-terminal", sandbox.root() / "preferred");
    sandbox.set("TERMINAL", (preferred / "my-terminal").string());
    sandbox.set("PATH", recorder("gnome-terminal", sandbox.root() / "gnome").string());

    LinuxTerminal terminal;
    terminal.openCommandFile(commandFile);
    EXPECT_EQ(recorded(sandbox.root() / "preferred"), (std::vector<std::string> {"-e", commandFile.string()}));

    sandbox.set("TERMINAL", std::nullopt);
    terminal.openCommandFile(commandFile);
    EXPECT_EQ(recorded(sandbox.root() / "gnome"), (std::vector<std::string> {"--", commandFile.string()}));

    sandbox.set("PATH", (sandbox.root() / "empty").string());
    EXPECT_EQ(LinuxTerminal::commandFor(commandFile), std::nullopt);
    EXPECT_NO_THROW(terminal.openCommandFile(commandFile));
}

TEST_F(LinuxServicesTest, RevealAsksTheFileManagerOverDBusAndOpensTheFolderWithoutOne)
{
    const auto item = sandbox.home() / "Profile Data";
    sandbox.set("PATH", recorder("xdg-open", sandbox.root() / "opened").string());

    LinuxFileViewer withoutBus {QDBusConnection(QString())};
    withoutBus.reveal(item);
    EXPECT_EQ(recorded(sandbox.root() / "opened"), std::vector<std::string> {sandbox.home().string()});

    if (::access("/usr/bin/dbus-daemon", X_OK) != 0)
        GTEST_SKIP() << "dbus-daemon is not installed";
    const auto config = sandbox.root() / "bus.conf";
    writeText(config,
        "<busconfig><type>session</type><listen>unix:dir=" + sandbox.runtimeDir().string() +
            "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" "
            "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
    BackgroundProcess daemon("/usr/bin/dbus-daemon",
        BackgroundProcess::Options {
            .arguments = {"dbus-daemon", "--nofork", "--print-address=1", "--config-file=" + config.string()}});
    const auto address = daemon.waitForLine("unix:");
    ASSERT_TRUE(address);

    QDBusConnection service = QDBusConnection::connectToBus(QString::fromStdString(*address), "file-manager");
    FakeFileManager fileManager;
    ASSERT_TRUE(
        service.registerObject("/org/freedesktop/FileManager1", &fileManager, QDBusConnection::ExportScriptableSlots));
    ASSERT_TRUE(service.registerService("org.freedesktop.FileManager1"));
    QDBusConnection client = QDBusConnection::connectToBus(QString::fromStdString(*address), "client");
    ASSERT_TRUE(client.isConnected());

    std::filesystem::remove(sandbox.root() / "opened");
    {
        LinuxFileViewer viewer(client);
        viewer.reveal(item);
        EXPECT_TRUE(waitUntil([&] { return !fileManager.shown.isEmpty(); }));
        EXPECT_EQ(fileManager.shown.join(" ").toStdString(),
            "file://" + QString::fromStdString(item.string()).replace(" ", "%20").toStdString());
        EXPECT_FALSE(std::filesystem::exists(sandbox.root() / "opened"));

        // The file manager went away: the folder is opened instead.
        service.unregisterService("org.freedesktop.FileManager1");
        viewer.reveal(item);
        EXPECT_EQ(recorded(sandbox.root() / "opened"), std::vector<std::string> {sandbox.home().string()});
    }
    client = QDBusConnection(QString());
    service = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus("client");
    QDBusConnection::disconnectFromBus("file-manager");
}

TEST_F(LinuxServicesTest, PasteboardPutsPlainTextOnTheClipboard)
{
    LinuxPasteboard pasteboard;
    pasteboard.setText("export CLAUDE_CONFIG_DIR='/home/me/Korvel/Profiles/A B'");
    EXPECT_EQ(
        QGuiApplication::clipboard()->text().toStdString(), "export CLAUDE_CONFIG_DIR='/home/me/Korvel/Profiles/A B'");
}

TEST_F(LinuxServicesTest, ClockSleepsOnTheEventLoop)
{
    LinuxClock clock;
    const auto start = std::chrono::steady_clock::now();
    bool ticked = false;
    QTimer::singleShot(10, [&] { ticked = true; });
    await(clock.sleep(150ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
    EXPECT_TRUE(ticked) << "other events ran meanwhile";

    // A clock that goes away wakes its sleepers instead of leaving them waiting for ever.
    auto doomed = std::make_unique<LinuxClock>();
    bool woke = false;
    auto sleeper = [](LinuxClock& clock, bool& woke) -> QCoro::Task<> {
        auto sleeping = clock.sleep(std::chrono::hours(1));
        co_await sleeping;
        woke = true;
    }(*doomed, woke);
    EXPECT_FALSE(woke);
    doomed.reset();
    EXPECT_TRUE(woke);
}

TEST_F(LinuxServicesTest, ThePlatformIsWiredAroundTheRunningBundle)
{
    const auto bundle = TestBundle::withScript(
        sandbox.root() / "Applications", "Korvel", "com.veldrane.Korvel", "Korvel", TestBundle::stayingScript());
    const auto executable = TestBundle::executable(bundle);
    EXPECT_EQ(LinuxMainBundle(executable).bundlePath(), bundle);
    EXPECT_EQ(LinuxMainBundle("/usr/bin/env").bundlePath(), "/usr/bin");
    EXPECT_EQ(LinuxMainBundle::currentExecutable(), std::filesystem::read_symlink("/proc/self/exe"));

    LinuxPlatform services(executable);
    Platform platform = services.platform();
    EXPECT_EQ(platform.mainBundle.bundlePath(), bundle);
    EXPECT_EQ(services.desktop(), nullptr) << "no DISPLAY in the sandbox";
    EXPECT_EQ(platform.workspace.frontmostApplication(), nullptr);
    platform.loginItem.enable();
    EXPECT_EQ(DesktopEntry::read(sandbox.configHome() / "autostart" / "korvel.desktop").value("Exec"),
        DesktopEntry::execLine({executable.string()}));
    platform.userDefaults.setBool("didCompleteWelcome", true);
    EXPECT_TRUE(std::filesystem::exists(sandbox.configHome() / "Korvel" / "Korvel.conf"));
}

#include "ServicesTest.moc"
