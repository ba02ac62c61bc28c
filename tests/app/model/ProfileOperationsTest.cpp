#include "core/building/CloneError.hpp"
#include "core/model/ClaudeDesktop.hpp"
#include "core/transfer/ClaudeCodeLauncher.hpp"
#include "core/transfer/DataImporter.hpp"
#include "tests/app/model/ModelTest.hpp"
#include "tests/app/support/Await.hpp"
#include "tests/app/support/PoolBlocker.hpp"

#include <QCoreApplication>
#include <QThread>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvel::test {
namespace {

using namespace std::chrono_literals;
using Paths = std::vector<std::filesystem::path>;

using ProfileOperations = ModelTest;

// A file that nobody may delete while this lives, root included: immutable for root, in a read-only folder for
// anyone else. ok() is false where the system allows neither.
class Undeletable
{
public:
    explicit Undeletable(std::filesystem::path file)
        : m_file(std::move(file))
    {
        m_ok = ::geteuid() == 0 ? setImmutable(true) : ::chmod(m_file.parent_path().c_str(), 0555) == 0;
    }
    ~Undeletable()
    {
        if (::geteuid() == 0)
            setImmutable(false);
        else
            ::chmod(m_file.parent_path().c_str(), 0755);
    }
    bool ok() const { return m_ok; }

private:
    bool setImmutable(bool immutable) const
    {
        const int fd = ::open(m_file.c_str(), O_RDONLY | O_CLOEXEC);
        int flags = 0;
        const bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
            ::ioctl(fd, FS_IOC_SETFLAGS, &(flags = immutable ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL)) ==
                0;
        if (fd >= 0)
            ::close(fd);
        return done;
    }

    std::filesystem::path m_file;
    bool m_ok = false;
};

TEST_F(ProfileOperations, createProfileImportsSavesSelectsAndBuildsEvenWhenTheImportFailsButNotForABlankName)
{
    AppModel& m = start(); // Claude's data folder holds nothing to import yet
    const auto empty = await(m.createProfile("Empty", ProfileColor::Orange, true));
    ASSERT_TRUE(empty);
    ASSERT_TRUE(m.errorMessage());
    EXPECT_TRUE(m.errorMessage()->starts_with("Import failed: ")) << *m.errorMessage();
    EXPECT_TRUE(m.errorMessage()->ends_with(". Your original Claude data was not changed.")) << *m.errorMessage();
    EXPECT_EQ(m.status(*empty), CloneStatus::ready("1.0.0")) << "built all the same";

    m.setErrorMessage(std::nullopt);
    writeText(paths.originalDataDir / "Local State", "{}");
    writeText(paths.originalDataDir / "Cookies", "chocolate");
    std::vector<std::string> busySeen;
    bool steps = false;
    bool offMainThread = false;
    QObject watch; // goes before what it records
    QObject::connect(&m, &AppModel::changed, &watch, [&m, &busySeen] {
        if (!m.busy().empty() && (busySeen.empty() || busySeen.back() != m.busy().begin()->second))
            busySeen.push_back(m.busy().begin()->second);
    });
    QObject::connect(&m, &AppModel::buildStep, &watch, [&](const QString&, const QString&) {
        steps = true;
        offMainThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
    });
    const auto work = await(m.createProfile("  Work \n", ProfileColor::Teal, true));
    ASSERT_TRUE(work);
    EXPECT_EQ(work->name, "Work");
    EXPECT_EQ(work->color, ProfileColor::Teal);
    EXPECT_EQ(m.profiles(), (std::vector<Profile> {*empty, *work}));
    EXPECT_EQ(ProfileStore(paths.profilesFile()).load().at(1).id, work->id);
    EXPECT_EQ(m.selection(), work->id);
    EXPECT_EQ(busySeen, (std::vector<std::string> {"Importing your Claude data…", "Creating app…"}));
    EXPECT_EQ(readText(paths.dataDir(work->id) / "Cookies"), "chocolate");
    EXPECT_TRUE(std::filesystem::exists(paths.appURL(*work) / "Contents/Info.plist"));
    EXPECT_EQ(m.status(*work), CloneStatus::ready("1.0.0"));
    EXPECT_TRUE(m.busy().empty());
    EXPECT_EQ(buildsStarted(work->id), 1);
    EXPECT_FALSE(m.errorMessage());
    EXPECT_TRUE(steps) << "the builder's steps reach the main thread before the build is done";
    EXPECT_FALSE(offMainThread);

    // Blank names, unchanged values and unknown profiles change nothing.
    const std::string saved = readText(paths.profilesFile());
    EXPECT_FALSE(await(m.createProfile(" \t\n ", ProfileColor::Red, false)));
    m.update(*work, "   ", ProfileColor::Green);
    m.update(*work, "Work", ProfileColor::Teal);
    m.update(makeProfile("Stranger"), "Other", std::nullopt);
    settle();
    EXPECT_EQ(m.profiles().size(), 2u);
    EXPECT_EQ(readText(paths.profilesFile()), saved);
    EXPECT_EQ(buildsStarted(work->id), 1);
    EXPECT_FALSE(m.errorMessage());

    // A name whose app name cannot be a file name is refused as it is entered.
    const std::string tooLong(250, 'w');
    EXPECT_FALSE(await(m.createProfile(tooLong, ProfileColor::Red, false)));
    ASSERT_TRUE(m.errorMessage());
    EXPECT_EQ(*m.errorMessage(),
        "The name “" + tooLong + "” is too long: its app’s name can’t be a file name. Choose a shorter name.");
    m.setErrorMessage(std::nullopt);
    m.update(*work, tooLong, std::nullopt);
    settle();
    EXPECT_TRUE(m.errorMessage());
    EXPECT_EQ(readText(paths.profilesFile()), saved);
    EXPECT_EQ(buildsStarted(work->id), 1);
}

TEST_F(ProfileOperations, anImportThatBrokeOffIsEmptiedAtStartAndOfferedAgain)
{
    const auto [work, home] = built("Work", "Home");
    // What a kill during `korvel create Work --import` leaves: the marker, part of the data, the lock links.
    writeText(DataImporter::interruptedMarker(paths.dataDir(work.id)), "");
    writeText(paths.dataDir(work.id) / "Local State", "{}");
    std::filesystem::create_symlink("workstation-4242", paths.dataDir(work.id) / "SingletonLock");
    writeText(paths.dataDir(home.id) / "Local State", "home's own");

    AppModel& m = start();
    ASSERT_TRUE(m.errorMessage());
    EXPECT_TRUE(m.errorMessage()->starts_with("Importing your Claude data into “Work” was interrupted."))
        << *m.errorMessage();
    EXPECT_EQ(m.interruptedImport(), work.id);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(paths.dataDir(work.id))));
    EXPECT_FALSE(DataImporter::wasInterrupted(paths.dataDir(work.id)));
    EXPECT_EQ(readText(paths.dataDir(home.id) / "Local State"), "home's own");

    // Asked again at every start until one of the answers is chosen, by this model or another.
    EXPECT_EQ(restart().interruptedImport(), work.id);
    restart().keepEmptyData();
    EXPECT_FALSE(restart().interruptedImport()) << "answered: keep it empty";
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(paths.dataDir(work.id))));

    writeText(DataImporter::interruptedMarker(paths.dataDir(work.id)), "");
    AppModel& again = restart();
    ASSERT_EQ(again.interruptedImport(), work.id);
    writeText(paths.originalDataDir / "Local State", "claude's");
    await(again.importAgain(home));
    EXPECT_EQ(again.interruptedImport(), work.id) << "another profile's import answers nothing";
    await(again.importAgain());
    EXPECT_FALSE(again.errorMessage());
    EXPECT_FALSE(again.interruptedImport());
    EXPECT_EQ(readText(paths.dataDir(work.id) / "Local State"), "claude's");
    restart();
    EXPECT_FALSE(model->errorMessage()) << "answered: imported again";
}

TEST_F(ProfileOperations, aSyncRoundLeavesAProfileAloneWhileItsDataIsBeingImported)
{
    const std::string account = "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D";
    const auto [work] = stored("Work");
    std::filesystem::create_directories(paths.dataDir(work.id) / "claude-code-sessions" / account);
    writeText(paths.originalDataDir / "Local State", "{}");
    AppModel& m = start();
    settle();
    writeText(paths.originalDataDir / "claude-code-sessions" / account / "local_1.json", "{}");
    std::vector<std::vector<SessionSync::Result>> rounds; // later rounds follow the new profile's build
    QObject watch;
    QObject::connect(&m, &AppModel::sessionsSynced, &watch,
        [&rounds](const std::vector<SessionSync::Result>& results) { rounds.push_back(results); });

    PoolBlocker pool;
    auto create = m.createProfile("Personal", ProfileColor::Orange, true);
    ASSERT_EQ(m.profiles().size(), 2u);
    const Uuid personal = m.profiles().back().id;
    ASSERT_EQ(m.busy().at(personal), "Importing your Claude data…");
    auto sync = m.syncSessions();
    pool.release();
    await(std::move(sync));
    await(std::move(create));

    ASSERT_FALSE(rounds.empty());
    EXPECT_EQ(rounds[0], (std::vector<SessionSync::Result> {{work.id, 1, 0, 0}}));
    EXPECT_FALSE(m.errorMessage()) << *m.errorMessage();
    EXPECT_EQ(readText(paths.dataDir(personal) / "claude-code-sessions" / account / "local_1.json"), "{}");
}

TEST_F(ProfileOperations, openBringsARunningAppForwardAndRebuildsAnOutdatedOneFirstEvenWithAutomaticUpdatesOff)
{
    fake.userDefaults.stored[AppModel::autoUpdateKey] = false;
    fake.workspace.launchOnOpen = true;
    const auto [work, home] = built("Work", "Home");
    registerBundle(home);
    setClaudeVersion("2.0.0");
    const auto workApp = fake.workspace.launch(work.bundleIdentifier()); // before Korvel starts
    AppModel& m = start();
    settle();
    ASSERT_EQ(m.status(home), CloneStatus::outdated("1.0.0", "2.0.0"));

    await(m.open(work));
    settle();
    EXPECT_EQ(workApp->unhideRequests, 1);
    EXPECT_EQ(workApp->activateRequests, 1);
    EXPECT_EQ(buildsStarted(work.id), 0);
    EXPECT_TRUE(fake.workspace.openedApplications.empty());
    EXPECT_EQ(statusOnDisk(work).kind(), CloneStatus::Kind::Outdated);

    await(m.open(home));
    EXPECT_EQ(buildsStarted(home.id), 1);
    EXPECT_EQ(m.status(home), CloneStatus::ready("2.0.0"));
    EXPECT_EQ(fake.workspace.openedApplications, Paths {paths.appURL(home)});
    EXPECT_FALSE(m.errorMessage());
}

TEST_F(ProfileOperations, openReportsAndAnnouncesMissingClaudeAndSystemFailures)
{
    const auto [work] = stored("Work");
    removeClaude();
    AppModel& m = start();
    std::vector<std::string> announced;
    QObject watch;
    QObject::connect(&m, &AppModel::errorOccurred, &watch,
        [&announced](const QString& message) { announced.push_back(message.toStdString()); });
    await(m.open(work));
    EXPECT_EQ(m.errorMessage(), CloneError::sourceMissing(paths.sourceApp).description());
    EXPECT_TRUE(fake.workspace.openedApplications.empty());

    installClaude("1.0.0");
    fake.workspace.openFailure = "no display";
    await(m.open(work));
    EXPECT_EQ(m.errorMessage(), "Couldn’t open Claude Work: no display");
    EXPECT_EQ(fake.workspace.openedApplications.size(), 1u);
    EXPECT_EQ(announced,
        (std::vector<std::string> {
            CloneError::sourceMissing(paths.sourceApp).description(), "Couldn’t open Claude Work: no display"}))
        << "each failure is announced with the message the model shows";
}

TEST_F(ProfileOperations, duringABuildRebuildAndOpenReturnAtOnceAndARenameBuildsAgainAfterwards)
{
    const auto [work] = stored("Work");
    AppModel& m = start();
    settle();
    PoolBlocker pool;
    auto build = m.rebuild(work);
    ASSERT_EQ(m.busy().at(work.id), "Creating app…");
    auto second = m.rebuild(work);
    EXPECT_TRUE(second.isReady());
    auto open = m.open(work);
    EXPECT_TRUE(open.isReady()) << "no open while the profile is busy";
    m.update(work, "Personal", std::nullopt);
    spin(); // the update's own rebuild finds the profile busy
    pool.release();
    await(std::move(build));
    settle();

    const Profile personal = *m.profile(work.id);
    EXPECT_EQ(personal.name, "Personal");
    EXPECT_EQ(buildsStarted(work.id), 2) << "the first build, then one for the new name";
    EXPECT_EQ(m.status(personal), CloneStatus::ready("1.0.0"));
    EXPECT_TRUE(std::filesystem::exists(paths.appURL(personal)));
    EXPECT_FALSE(std::filesystem::exists(paths.appURL(work)));
    EXPECT_TRUE(fake.workspace.openedApplications.empty());
    EXPECT_FALSE(m.errorMessage());
}

TEST_F(ProfileOperations, aRunningAppIsNotRebuiltButItsNewColourIsSavedAndBuiltOnceItQuits)
{
    const auto [work] = built("Work");
    const auto app = fake.workspace.launch(work.bundleIdentifier());
    AppModel& m = start();
    settle();
    await(m.rebuild(work));
    EXPECT_EQ(m.errorMessage(), "Quit Claude Work before rebuilding its app.");
    m.update(work, std::nullopt, ProfileColor::Green);
    settle();
    EXPECT_EQ(ProfileStore(paths.profilesFile()).load().at(0).color, ProfileColor::Green);
    EXPECT_EQ(m.status(work), CloneStatus::damaged("color changed"));
    EXPECT_EQ(buildsStarted(work.id), 0);

    fake.workspace.quit(app);
    settle();
    EXPECT_EQ(buildsStarted(work.id), 1);
    EXPECT_EQ(m.status(*m.profile(work.id)), CloneStatus::ready("1.0.0"));

    std::filesystem::remove(launcher);
    await(m.rebuild(work));
    EXPECT_EQ(
        m.errorMessage(), "Couldn’t create the app for Work: " + CloneError::launcherMissing(launcher).description());
    EXPECT_TRUE(m.busy().empty());
    EXPECT_EQ(m.status(*m.profile(work.id)), CloneStatus::ready("1.0.0")) << "the previous app stays";
}

TEST_F(ProfileOperations, deleteRemovesTheAppTrashesOrKeepsTheDataAndMovesSelectionAndActiveProfile)
{
    const auto [work, home, play] = built("Work", "Home", "Play");
    writeText(paths.profileDir(home.id) / "session-import.json", "{}");
    const auto app = fake.workspace.launch(work.bundleIdentifier());
    app->checksBeforeQuitting = 3;
    AppModel& m = start();
    fake.workspace.bringToFront(app);
    ASSERT_EQ(m.activeProfileID(), work.id);
    ASSERT_EQ(m.selection(), work.id);

    await(m.deleteProfile(work, true));
    settle();
    EXPECT_FALSE(m.errorMessage());
    EXPECT_EQ(fake.clock.sleeps.size(), 3u);
    EXPECT_EQ(m.profiles(), (std::vector<Profile> {home, play}));
    EXPECT_EQ(ProfileStore(paths.profilesFile()).load(), m.profiles());
    EXPECT_EQ(m.selection(), home.id);
    EXPECT_FALSE(m.activeProfileID());
    EXPECT_FALSE(m.statuses().contains(work.id));
    EXPECT_FALSE(std::filesystem::exists(paths.appURL(work)));
    EXPECT_EQ(fake.trash.trashed, Paths {paths.profileDir(work.id)});
    EXPECT_FALSE(std::filesystem::exists(paths.profileDir(work.id)));

    await(m.deleteProfile(home, false));
    EXPECT_EQ(m.profiles(), std::vector<Profile> {play});
    EXPECT_FALSE(std::filesystem::exists(paths.appURL(home)));
    EXPECT_TRUE(std::filesystem::exists(paths.profileDir(home.id) / "session-import.json")) << "data kept";
    EXPECT_EQ(fake.trash.trashed.size(), 1u);

    fake.trash.failure = "the trash is full";
    await(m.deleteProfile(play, true));
    EXPECT_EQ(m.errorMessage(), "Couldn’t fully remove Play: the trash is full");
    EXPECT_TRUE(m.profiles().empty());
    EXPECT_FALSE(m.selection());
    EXPECT_FALSE(std::filesystem::exists(paths.appURL(play)));
    EXPECT_TRUE(std::filesystem::exists(paths.dataDir(play.id)));
}

// Only a profile whose app is gone may go: else its app would stay behind without a profile that owns it.
TEST_F(ProfileOperations, deleteStopsWhenTheAppCannotBeRemoved)
{
    const auto [work, home] = built("Work", "Home");
    AppModel& m = start();
    const Undeletable stuck(paths.appURL(work) / "Contents" / "Info.plist");
    if (!stuck.ok())
        GTEST_SKIP() << "no file can be made undeletable here";

    await(m.deleteProfile(work, true));
    ASSERT_TRUE(m.errorMessage());
    EXPECT_TRUE(m.errorMessage()->starts_with("Couldn’t fully remove Work: ")) << *m.errorMessage();
    EXPECT_EQ(m.profiles(), (std::vector<Profile> {work, home}));
    EXPECT_EQ(ProfileStore(paths.profilesFile()).load(), m.profiles());
    EXPECT_TRUE(fake.trash.trashed.empty());
    EXPECT_TRUE(std::filesystem::exists(paths.profileDir(work.id)));
}

TEST_F(ProfileOperations, deleteAndRestartGiveUpOnAnAppThatWontQuitThenRestartRebuildsAnOutdatedAppAndOpensIt)
{
    const auto [work] = built("Work");
    setClaudeVersion("2.0.0");
    const auto app = fake.workspace.launch(work.bundleIdentifier());
    app->refusesToQuit = true;
    AppModel& m = start();
    settle();

    await(m.deleteProfile(work, true));
    EXPECT_EQ(m.errorMessage(), "Quit Claude Work first, then delete the profile.");
    EXPECT_EQ(fake.clock.sleeps, std::vector<FakeClock::Duration>(50, 100ms));
    EXPECT_EQ(m.profiles(), std::vector<Profile> {work});
    EXPECT_TRUE(std::filesystem::exists(paths.appURL(work)));
    EXPECT_TRUE(std::filesystem::exists(paths.dataDir(work.id)));
    EXPECT_TRUE(fake.trash.trashed.empty());

    fake.clock.sleeps.clear();
    await(m.restart(work));
    EXPECT_EQ(m.errorMessage(), "Claude Work didn’t quit. Quit it, then open it again.");
    EXPECT_EQ(fake.clock.sleeps, std::vector<FakeClock::Duration>(100, 100ms));
    EXPECT_EQ(app->terminateRequests, 2);
    EXPECT_EQ(buildsStarted(work.id), 0);
    EXPECT_TRUE(fake.workspace.openedApplications.empty());

    m.setErrorMessage(std::nullopt);
    app->refusesToQuit = false;
    app->checksBeforeQuitting = 2;
    await(m.restart(work)); // the workspace has not yet reported the quit
    EXPECT_FALSE(m.errorMessage());
    EXPECT_EQ(buildsStarted(work.id), 1);
    EXPECT_EQ(m.status(work), CloneStatus::ready("2.0.0"));
    EXPECT_EQ(fake.workspace.openedApplications, Paths {paths.appURL(work)});
}

TEST_F(ProfileOperations, openAllOpensInListOrderAndBringsARunningOneForward)
{
    const auto [a, b, c] = built("A", "B", "C");
    const auto running = fake.workspace.launch(b.bundleIdentifier());
    AppModel& m = start();
    settle();

    await(m.openAll());
    EXPECT_EQ(running->activateRequests, 1);
    EXPECT_EQ(fake.workspace.openedApplications, (Paths {paths.appURL(a), paths.appURL(c)}));
}

TEST_F(ProfileOperations, moveProfilesFollowsListMoveRulesAndSaves)
{
    const auto [a, b, c] = stored("A", "B", "C");
    AppModel& m = start();

    m.moveProfiles({0}, 3);
    EXPECT_EQ(m.profiles(), (std::vector<Profile> {b, c, a}));
    EXPECT_EQ(ProfileStore(paths.profilesFile()).load(), m.profiles());
    m.moveProfiles({2}, 0);
    EXPECT_EQ(m.profiles(), (std::vector<Profile> {a, b, c}));
    m.moveProfiles({0, 2}, 2);
    EXPECT_EQ(m.profiles(), (std::vector<Profile> {b, a, c}));
    m.moveProfiles({1}, 1);
    EXPECT_EQ(m.profiles(), (std::vector<Profile> {b, a, c}));
}

TEST_F(ProfileOperations, revealDataAndClaudeCodeCreateTheProfilesFilesOrReportWhyNot)
{
    const auto [work] = stored("Work");
    AppModel& m = start();
    m.revealData(work);
    EXPECT_EQ(fake.fileViewer.revealed, Paths {paths.dataDir(work.id)});
    EXPECT_EQ(modeOf(paths.dataDir(work.id)), 0700u);
    EXPECT_EQ(modeOf(paths.profileDir(work.id)), 0700u);

    // Nothing to show folders with: said, not swallowed; the app is shown where it is, also before its rebuild
    // after a rename.
    fake.fileViewer.failure = "No file manager is set up to show folders.";
    m.revealData(work);
    ASSERT_TRUE(m.errorMessage());
    EXPECT_EQ(*m.errorMessage(),
        "Couldn’t show “" + paths.dataDir(work.id).string() + "”: No file manager is set up to show folders.");
    fake.fileViewer.failure.reset();
    m.setErrorMessage(std::nullopt);
    buildApp(work);
    Profile renamed = work;
    renamed.name = "Renamed";
    EXPECT_EQ(m.appLocation(renamed), paths.appURL(work)) << "the app still has its old name";
    m.revealApp(renamed);
    EXPECT_EQ(fake.fileViewer.revealed.back(), paths.appURL(work));
    EXPECT_EQ(m.appLocation(makeProfile("Unbuilt")), paths.appURL(makeProfile("Unbuilt")));

    m.openClaudeCode(work);
    const auto commandFile = paths.profileDir(work.id) / "Claude Code.command";
    EXPECT_EQ(fake.terminal.opened, Paths {commandFile});
    EXPECT_NE(readText(commandFile).find("Work"), std::string::npos);
    m.copyClaudeCodeExport(work);
    EXPECT_EQ(fake.pasteboard.text, ClaudeCodeLauncher::exportLine(paths.claudeCodeConfigDir(work.id)));

    const Profile blocked = makeProfile("Blocked");
    writeText(paths.profileDir(blocked.id), "a file where the folder belongs");
    m.openClaudeCode(blocked);
    ASSERT_TRUE(m.errorMessage());
    EXPECT_TRUE(m.errorMessage()->starts_with("Couldn’t open Claude Code: ")) << *m.errorMessage();
    EXPECT_EQ(fake.terminal.opened.size(), 1u);
}

TEST_F(ProfileOperations, quitOriginalClaudeAsksOnlyClaudeDesktop)
{
    AppModel& m = start();
    const auto claude = fake.workspace.launch(std::string(ClaudeDesktop::bundleIdentifier));
    const auto profileApp = launchApp(makeProfile("Work"));
    const auto other = fake.workspace.launch(std::string("org.example.editor"));
    m.quitOriginalClaude();
    EXPECT_EQ(claude->terminateRequests, 1);
    EXPECT_EQ(profileApp->terminateRequests, 0);
    EXPECT_EQ(other->terminateRequests, 0);
}

} // namespace
} // namespace korvel::test
