#include "app/platform/linux/LinuxClock.hpp"
#include "app/platform/linux/LinuxFileViewer.hpp"
#include "app/platform/linux/LinuxLoginItem.hpp"
#include "app/platform/linux/LinuxMainBundle.hpp"
#include "app/platform/linux/LinuxTerminal.hpp"
#include "app/platform/linux/LinuxTrash.hpp"
#include "app/platform/linux/LinuxUserDefaults.hpp"
#include "core/support/DesktopEntry.hpp"
#include "tests/app/platform/linux/PlatformTest.hpp"

#include <QDBusConnection>
#include <QTimer>
#include <QUrl>

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
    Q_SCRIPTABLE void ShowItems(const QStringList& uris, const QString&) { shown += uris; }
};

class LinuxServicesTest : public ::testing::Test
{
protected:
    // Installs a program `name` that records its arguments to `record`, alone in a folder; the folder.
    std::filesystem::path recorder(const std::string& name, const std::filesystem::path& record)
    {
        writeExecutable(sandbox.root() / ("bin-" + name) / name, recordingScript(record));
        return sandbox.root() / ("bin-" + name);
    }

    static std::vector<std::string> recorded(const std::filesystem::path& record)
    {
        waitUntil([&] { return std::filesystem::exists(record); });
        const auto arguments = recordedArguments(record);
        std::filesystem::remove(record);
        return arguments;
    }

    Sandbox sandbox;
};

} // namespace

TEST_F(LinuxServicesTest, LoginItemIsAnAutostartEntryThatTheDesktopRunsForTheMainBundle)
{
    const std::filesystem::path record = sandbox.root() / "started";
    const auto bundle =
        makeBundle(sandbox.root() / "My \"Apps\"", "Korvel", "com.veldrane.Korvel", recordingScript(record));
    EXPECT_EQ(LinuxMainBundle(bundleExecutable(bundle)).bundlePath(), bundle);
    EXPECT_EQ(LinuxMainBundle("/usr/bin/env").bundlePath(), "/usr/bin");
    LinuxLoginItem item(bundleExecutable(bundle));
    const auto entry = sandbox.configHome() / "autostart" / "korvel.desktop";
    EXPECT_EQ(LinuxLoginItem::defaultEntry(), entry);
    EXPECT_FALSE(item.isEnabled());
    item.enable();
    EXPECT_TRUE(item.isEnabled());
    // GLib runs the entry as a session would at login: Korvel's executable, despite quotes and blanks.
    BackgroundProcess launch("/usr/bin/gio", {.arguments = {"gio", "launch", entry.string()}});
    EXPECT_EQ(launch.wait(), 0);
    EXPECT_TRUE(waitUntil([&] { return std::filesystem::exists(record); }));

    // The desktop's own way of switching an entry off.
    writeText(entry, readText(entry) + "Hidden=true\n");
    EXPECT_FALSE(item.isEnabled());
    item.enable();
    EXPECT_TRUE(item.isEnabled());
    item.disable();
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_NO_THROW(item.disable());

    writeText(sandbox.root() / "plain-file", "");
    LinuxLoginItem blocked(bundleExecutable(bundle), sandbox.root() / "plain-file" / "autostart" / "k.desktop");
    EXPECT_THROW(blocked.enable(), FileError);
    EXPECT_FALSE(blocked.isEnabled());
}

TEST_F(LinuxServicesTest, UserDefaultsPersistInKorvelsSettingsFileAndRegisteredDefaultsDoNot)
{
    EXPECT_EQ(LinuxUserDefaults::defaultFile(), sandbox.configHome() / "Korvel" / "Korvel.conf");
    {
        LinuxUserDefaults defaults;
        defaults.registerDefault("autoUpdateProfileApps", true);
        defaults.registerDefault("didCompleteWelcome", true);
        EXPECT_TRUE(defaults.boolForKey("autoUpdateProfileApps"));
        defaults.setBool("autoUpdateProfileApps", false);
        defaults.setBool("routeClaudeLinks", true);
    }
    LinuxUserDefaults later;
    later.registerDefault("autoUpdateProfileApps", true);
    EXPECT_FALSE(later.boolForKey("autoUpdateProfileApps")) << "a stored value beats the registered default";
    EXPECT_TRUE(later.boolForKey("routeClaudeLinks"));
    EXPECT_FALSE(later.boolForKey("didCompleteWelcome")) << "defaults are not persisted";
}

TEST_F(LinuxServicesTest, TrashFollowsTheFreeDesktopLayoutWithTheOriginalLocation)
{
    LinuxTrash trash;
    const auto file = sandbox.home() / "My Report.txt";
    const auto folder = sandbox.dataHome() / "Korvel" / "Profiles" / "0F4C6A2E";
    writeText(folder / "Data" / "Local State", "{}");
    writeText(file, "first");
    await(trash.moveToTrash(file));
    await(trash.moveToTrash(folder));
    writeText(file, "second");
    await(trash.moveToTrash(file)); // the same name again

    EXPECT_FALSE(std::filesystem::exists(file) || std::filesystem::exists(folder));
    const auto trashFolder = sandbox.dataHome() / "Trash";
    std::multiset<std::pair<std::string, std::string>> trashed; // where from, what
    for (const auto& item : std::filesystem::directory_iterator(trashFolder / "files")) {
        const std::string info = readText(trashFolder / "info" / (item.path().filename().string() + ".trashinfo"));
        EXPECT_TRUE(info.starts_with("[Trash Info]\n") && info.find("\nDeletionDate=") != std::string::npos) << info;
        // Path= holds the original location, URL-escaped as the layout asks (or not, as Qt writes it).
        const size_t path = info.find("Path=") + 5;
        trashed.emplace(
            QUrl::fromPercentEncoding(QByteArray::fromStdString(info.substr(path, info.find('\n', path) - path)))
                .toStdString(),
            readText(item.is_regular_file() ? item.path() : item.path() / "Data" / "Local State"));
    }
    EXPECT_EQ(trashed,
        (std::multiset<std::pair<std::string, std::string>> {{file, "first"}, {file, "second"}, {folder, "{}"}}));
    EXPECT_EQ(thrown<FileError>([&] { await(trash.moveToTrash(sandbox.root() / "gone")); }).kind(),
        FileError::Kind::ReadNoSuchFile);

    // Qt moves an item into ./files when it cannot set up the home trash: an error, and nothing moves.
    writeText(sandbox.root() / "blocked", "");
    sandbox.set("XDG_DATA_HOME", (sandbox.root() / "blocked" / "data").string());
    writeText(file, "third");
    EXPECT_THROW(await(trash.moveToTrash(file)), FileError);
    EXPECT_EQ(readText(file), "third");
}

TEST_F(LinuxServicesTest, TerminalRunsTheCommandFileAsOneArgumentInTheFirstTerminalFound)
{
    const auto commandFile = sandbox.root() / "Work $HOME" / "Claude Code.command";
    sandbox.set("TERMINAL", (recorder("my-terminal", sandbox.root() / "record") / "my-terminal").string());
    sandbox.set("PATH", recorder("gnome-terminal", sandbox.root() / "record").string());
    LinuxTerminal terminal;
    terminal.openCommandFile(commandFile);
    EXPECT_EQ(recorded(sandbox.root() / "record"), (std::vector<std::string> {"-e", commandFile.string()}));

    sandbox.set("TERMINAL", std::nullopt);
    terminal.openCommandFile(commandFile);
    EXPECT_EQ(recorded(sandbox.root() / "record"), (std::vector<std::string> {"--", commandFile.string()}));

    sandbox.set("PATH", (sandbox.root() / "empty").string());
    EXPECT_EQ(LinuxTerminal::commandFor(commandFile), std::nullopt);
    EXPECT_NO_THROW(terminal.openCommandFile(commandFile));
}

TEST_F(LinuxServicesTest, RevealAsksTheFileManagerOverDBusAndOpensTheFolderWithoutOne)
{
    const auto item = sandbox.home() / "Profile Data";
    const auto opened = sandbox.root() / "opened";
    sandbox.set("PATH", recorder("xdg-open", opened).string());
    // A desktop without a file manager: said, rather than nothing happening.
    EXPECT_THROW(LinuxFileViewer(QDBusConnection(QString())).reveal(item), std::runtime_error);
    EXPECT_FALSE(std::filesystem::exists(opened));
    writeText(sandbox.dataHome() / "applications/files.desktop",
        "[Desktop Entry]\nType=Application\nName=Files\nExec=xdg-open %U\nMimeType=inode/directory;\n");
    writeText(sandbox.configHome() / "mimeapps.list", "[Default Applications]\ninode/directory=files.desktop\n");
    // GLib notices the new entry through a file monitor, a moment later.
    bool revealed = false;
    EXPECT_TRUE(waitUntil([&] {
        try {
            if (!revealed)
                LinuxFileViewer(QDBusConnection(QString())).reveal(item);
            revealed = true;
        } catch (const std::runtime_error&) {
            // not yet
        }
        return revealed;
    }));
    EXPECT_EQ(recorded(opened), std::vector<std::string> {sandbox.home().string()});

    if (::access("/usr/bin/dbus-daemon", X_OK) != 0)
        GTEST_SKIP() << "dbus-daemon is not installed";
    BackgroundProcess daemon(
        "/usr/bin/dbus-daemon", {.arguments = {"dbus-daemon", "--session", "--nofork", "--print-address=1"}});
    const auto address = QString::fromStdString(daemon.waitForLine("unix:").value_or(""));
    QDBusConnection service = QDBusConnection::connectToBus(address, "file-manager");
    FakeFileManager fileManager;
    ASSERT_TRUE(
        service.registerObject("/org/freedesktop/FileManager1", &fileManager, QDBusConnection::ExportScriptableSlots));
    ASSERT_TRUE(service.registerService("org.freedesktop.FileManager1"));
    LinuxFileViewer viewer(QDBusConnection::connectToBus(address, "client"));
    viewer.reveal(item);
    EXPECT_TRUE(waitUntil([&] { return !fileManager.shown.isEmpty(); }));
    EXPECT_EQ(fileManager.shown.join(" ").toStdString(),
        "file://" + QUrl::toPercentEncoding(QString::fromStdString(item), "/").toStdString());
    EXPECT_FALSE(std::filesystem::exists(opened));
    // The file manager went away: the folder is opened instead.
    service.unregisterService("org.freedesktop.FileManager1");
    viewer.reveal(item);
    EXPECT_EQ(recorded(opened), std::vector<std::string> {sandbox.home().string()});
    QDBusConnection::disconnectFromBus("client");
    QDBusConnection::disconnectFromBus("file-manager");
}

TEST_F(LinuxServicesTest, ClockSleepsOnTheEventLoopAndWakesItsSleepersWhenItGoes)
{
    auto clock = std::make_unique<LinuxClock>();
    const auto start = std::chrono::steady_clock::now();
    bool ticked = false;
    QTimer::singleShot(10, [&] { ticked = true; });
    await(clock->sleep(150ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
    EXPECT_TRUE(ticked) << "other events ran meanwhile";

    // Instead of leaving them waiting for ever.
    bool woke = false;
    auto sleeper = [](LinuxClock& clock, bool& woke) -> QCoro::Task<> {
        auto sleeping = clock.sleep(std::chrono::hours(1));
        co_await sleeping;
        woke = true;
    }(*clock, woke);
    EXPECT_FALSE(woke);
    clock.reset();
    EXPECT_TRUE(woke);
}

#include "ServicesTest.moc"
