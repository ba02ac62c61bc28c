#include "core/building/CloneError.hpp"
#include "core/model/ClaudeDesktop.hpp"
#include "core/transfer/ClaudeCodeLauncher.hpp"
#include "tests/app/support/Await.hpp"
#include "tests/app/support/ModelSandbox.hpp"
#include "tests/app/support/PoolBlocker.hpp"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

namespace korvel::test {
namespace {

using namespace std::chrono_literals;

using ProfileOperations = ModelSandbox;

TEST_F(ProfileOperations, createProfileWithABlankNameDoesNothing)
{
    AppModel& m = start();
    EXPECT_FALSE(await(m.createProfile(" \t\n ", ProfileColor::Red, false)));
    EXPECT_TRUE(m.profiles().empty());
    EXPECT_FALSE(std::filesystem::exists(paths.profilesFile()));
    EXPECT_FALSE(m.errorMessage());
}

TEST_F(ProfileOperations, createProfileSavesSelectsAndBuildsTheApp)
{
    AppModel& m = start();
    std::vector<QString> steps;
    bool offMainThread = false;
    QObject watch; // goes before what it records
    QObject::connect(&m, &AppModel::buildStep, &watch, [&](const QString&, const QString& step) {
        steps.push_back(step);
        offMainThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
    });
    const auto work = await(m.createProfile("  Work \n", ProfileColor::Teal, false));
    ASSERT_TRUE(work);
    EXPECT_EQ(work->name, "Work");
    EXPECT_EQ(work->color, ProfileColor::Teal);
    EXPECT_EQ(m.profiles(), std::vector<Profile> {*work});
    EXPECT_EQ(m.selection(), work->id);
    EXPECT_EQ(ProfileStore(paths.profilesFile()).load().at(0).id, work->id);
    EXPECT_TRUE(std::filesystem::exists(paths.appURL(*work) / "Contents/Info.plist"));
    EXPECT_EQ(m.status(*work), CloneStatus::ready("1.0.0"));
    EXPECT_TRUE(m.busy().empty());
    EXPECT_EQ(buildsStarted(work->id), 1);
    EXPECT_FALSE(m.errorMessage());
    EXPECT_FALSE(steps.empty()) << "the builder's steps reach the main thread before the build is done";
    EXPECT_FALSE(offMainThread);
}

TEST_F(ProfileOperations, createProfileImportsClaudeDataBeforeBuilding)
{
    writeText(paths.originalDataDir / "Local State", "{}");
    writeText(paths.originalDataDir / "Cookies", "chocolate");
    AppModel& m = start();
    std::vector<std::string> busySeen;
    QObject watch;
    QObject::connect(&m, &AppModel::changed, &watch, [&m, &busySeen] {
        if (!m.busy().empty() && (busySeen.empty() || busySeen.back() != m.busy().begin()->second))
            busySeen.push_back(m.busy().begin()->second);
    });
    const auto personal = await(m.createProfile("Personal", ProfileColor::Orange, true));
    ASSERT_TRUE(personal);
    EXPECT_EQ(busySeen, (std::vector<std::string> {"Importing your Claude data…", "Creating app…"}));
    EXPECT_EQ(readText(paths.dataDir(personal->id) / "Cookies"), "chocolate");
    EXPECT_EQ(m.status(*personal), CloneStatus::ready("1.0.0"));
    EXPECT_FALSE(m.errorMessage());
}

TEST_F(ProfileOperations, aSyncRoundLeavesAProfileAloneWhileItsDataIsBeingImported)
{
    const std::string account = "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D";
    const Profile work = makeProfile("Work");
    storeProfiles({work});
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

TEST_F(ProfileOperations, failedImportIsReportedAndTheAppIsBuiltAnyway)
{
    AppModel& m = start(); // Claude's data folder holds nothing to import
    const auto personal = await(m.createProfile("Personal", ProfileColor::Orange, true));
    ASSERT_TRUE(personal);
    ASSERT_TRUE(m.errorMessage());
    EXPECT_TRUE(m.errorMessage()->starts_with("Import failed: ")) << *m.errorMessage();
    EXPECT_TRUE(m.errorMessage()->ends_with(". Your original Claude data was not changed.")) << *m.errorMessage();
    EXPECT_EQ(m.profiles().size(), 1u);
    EXPECT_EQ(m.status(*personal), CloneStatus::ready("1.0.0"));
    EXPECT_TRUE(m.busy().empty());
}

TEST_F(ProfileOperations, openOfARunningAppBringsItForwardAndBuildsNothing)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    buildApp(work);
    setClaudeVersion("2.0.0");
    const auto app = fake.workspace.launch(work.bundleIdentifier()); // before Korvel starts
    AppModel& m = start();
    settle();
    ASSERT_EQ(m.status(work).kind(), CloneStatus::Kind::Outdated);

    await(m.open(work));
    settle();
    EXPECT_EQ(app->unhideRequests, 1);
    EXPECT_EQ(app->activateRequests, 1);
    EXPECT_EQ(buildsStarted(work.id), 0);
    EXPECT_TRUE(fake.workspace.openedApplications.empty());
    EXPECT_EQ(statusOnDisk(work).kind(), CloneStatus::Kind::Outdated);
}

TEST_F(ProfileOperations, openOfAnOutdatedAppRebuildsItFirstEvenWithAutomaticUpdatesOff)
{
    fake.userDefaults.stored[AppModel::autoUpdateKey] = false;
    fake.workspace.launchOnOpen = true;
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    registerBundle(work);
    buildApp(work);
    setClaudeVersion("2.0.0");
    AppModel& m = start();
    settle();
    ASSERT_EQ(m.status(work), CloneStatus::outdated("1.0.0", "2.0.0"));
    EXPECT_EQ(buildsStarted(work.id), 0);

    await(m.open(work));
    EXPECT_EQ(buildsStarted(work.id), 1);
    EXPECT_EQ(m.status(work), CloneStatus::ready("2.0.0"));
    EXPECT_EQ(fake.workspace.openedApplications, std::vector<std::filesystem::path> {paths.appURL(work)});
    EXPECT_EQ(m.running(), std::set<Uuid> {work.id});
    EXPECT_EQ(m.lastLaunchedProfileID(), work.id);
    EXPECT_FALSE(m.errorMessage());
}

TEST_F(ProfileOperations, openReportsMissingClaudeAndSystemFailures)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    removeClaude();
    AppModel& m = start();
    await(m.open(work));
    EXPECT_EQ(m.errorMessage(), CloneError::sourceMissing(paths.sourceApp).description());
    EXPECT_TRUE(fake.workspace.openedApplications.empty());

    installClaude("1.0.0");
    fake.workspace.openFailure = "no display";
    await(m.open(work));
    EXPECT_EQ(m.errorMessage(), "Couldn’t open Claude Work: no display");
    EXPECT_EQ(fake.workspace.openedApplications.size(), 1u);
}

TEST_F(ProfileOperations, secondRebuildWhileOneRunsReturnsAtOnce)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    AppModel& m = start();
    settle();
    PoolBlocker pool;
    auto first = m.rebuild(work);
    ASSERT_EQ(m.busy().at(work.id), "Creating app…");
    auto second = m.rebuild(work);
    EXPECT_TRUE(second.isReady());
    auto open = m.open(work);
    EXPECT_TRUE(open.isReady()) << "no open while the profile is busy";
    EXPECT_FALSE(m.errorMessage());
    pool.release();
    await(std::move(first));
    settle();
    EXPECT_EQ(buildsStarted(work.id), 1);
    EXPECT_TRUE(fake.workspace.openedApplications.empty());
}

TEST_F(ProfileOperations, rebuildRefusesARunningAppAndReportsBuildFailures)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    AppModel& m = start();
    launchApp(work);
    await(m.rebuild(work));
    EXPECT_EQ(m.errorMessage(), "Quit Claude Work before rebuilding its app.");
    EXPECT_EQ(buildsStarted(work.id), 0);

    fake.workspace.quit(fake.workspace.applications.at(0));
    settle();
    EXPECT_EQ(buildsStarted(work.id), 1) << "built once it quit";
    std::filesystem::remove(launcher);
    await(m.rebuild(work));
    EXPECT_EQ(
        m.errorMessage(), "Couldn’t create the app for Work: " + CloneError::launcherMissing(launcher).description());
    EXPECT_TRUE(m.busy().empty());
    EXPECT_EQ(m.status(work), CloneStatus::ready("1.0.0")) << "the previous app stays";
}

TEST_F(ProfileOperations, renameDuringABuildBuildsAgainForTheNewName)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    AppModel& m = start();
    settle();
    PoolBlocker pool;
    auto build = m.rebuild(work);
    m.update(work, "Personal", std::nullopt);
    spin(); // the update's own rebuild finds the profile busy
    pool.release();
    await(std::move(build));
    settle();

    const Profile personal = *m.profile(work.id);
    EXPECT_EQ(personal.name, "Personal");
    EXPECT_EQ(buildsStarted(work.id), 2);
    EXPECT_EQ(m.status(personal), CloneStatus::ready("1.0.0"));
    EXPECT_TRUE(std::filesystem::exists(paths.appURL(personal)));
    EXPECT_FALSE(std::filesystem::exists(paths.appURL(work)));
}

TEST_F(ProfileOperations, recolouringARunningAppSavesNowAndRebuildsWhenItQuits)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    buildApp(work);
    const auto app = fake.workspace.launch(work.bundleIdentifier());
    AppModel& m = start();
    settle();

    m.update(work, std::nullopt, ProfileColor::Green);
    settle();
    EXPECT_EQ(ProfileStore(paths.profilesFile()).load().at(0).color, ProfileColor::Green);
    EXPECT_EQ(m.status(work), CloneStatus::damaged("color changed"));
    EXPECT_EQ(buildsStarted(work.id), 0);

    fake.workspace.quit(app);
    settle();
    EXPECT_EQ(buildsStarted(work.id), 1);
    EXPECT_EQ(m.status(*m.profile(work.id)), CloneStatus::ready("1.0.0"));
}

TEST_F(ProfileOperations, updateWithABlankNameOrNoChangeDoesNothing)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    AppModel& m = start();
    settle();
    const std::string stored = readText(paths.profilesFile());

    m.update(work, "   ", ProfileColor::Green);
    m.update(work, "Work", ProfileColor::Blue);
    m.update(makeProfile("Stranger"), "Other", std::nullopt);
    settle();
    EXPECT_EQ(m.profiles(), std::vector<Profile> {work});
    EXPECT_EQ(readText(paths.profilesFile()), stored);
    EXPECT_EQ(buildsStarted(work.id), 0);
}

TEST_F(ProfileOperations, deleteGivesUpWhenTheAppRefusesToQuit)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    buildApp(work);
    const auto app = fake.workspace.launch(work.bundleIdentifier());
    app->refusesToQuit = true;
    AppModel& m = start();
    settle();

    await(m.deleteProfile(work, true));
    EXPECT_EQ(m.errorMessage(), "Quit Claude Work first, then delete the profile.");
    EXPECT_EQ(app->terminateRequests, 1);
    EXPECT_EQ(fake.clock.sleeps, std::vector<FakeClock::Duration>(50, 100ms));
    EXPECT_EQ(m.profiles(), std::vector<Profile> {work});
    EXPECT_TRUE(std::filesystem::exists(paths.appURL(work)));
    EXPECT_TRUE(std::filesystem::exists(paths.dataDir(work.id)));
    EXPECT_TRUE(fake.trash.trashed.empty());
}

TEST_F(ProfileOperations, deleteWithTrashRemovesEverythingAndMovesSelectionAndActiveProfile)
{
    const Profile work = makeProfile("Work");
    const Profile home = makeProfile("Home");
    storeProfiles({work, home});
    buildApp(work);
    writeText(paths.profileDir(work.id) / "session-import.json", "{}");
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
    EXPECT_EQ(m.profiles(), std::vector<Profile> {home});
    EXPECT_EQ(m.selection(), home.id);
    EXPECT_FALSE(m.activeProfileID());
    EXPECT_FALSE(std::filesystem::exists(paths.appURL(work)));
    EXPECT_EQ(fake.trash.trashed, std::vector<std::filesystem::path> {paths.profileDir(work.id)});
    EXPECT_FALSE(std::filesystem::exists(paths.profileDir(work.id)));
    EXPECT_EQ(ProfileStore(paths.profilesFile()).load(), std::vector<Profile> {home});
    EXPECT_FALSE(m.statuses().contains(work.id));
}

TEST_F(ProfileOperations, deleteKeepingDataLeavesTheProfileFolder)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    buildApp(work);
    writeText(paths.profileDir(work.id) / "session-import.json", "{}");
    std::filesystem::create_directories(paths.claudeCodeConfigDir(work.id));
    AppModel& m = start();

    await(m.deleteProfile(work, false));
    EXPECT_TRUE(m.profiles().empty());
    EXPECT_FALSE(m.selection());
    EXPECT_FALSE(std::filesystem::exists(paths.appURL(work)));
    EXPECT_TRUE(std::filesystem::exists(paths.profileDir(work.id) / "session-import.json"));
    EXPECT_TRUE(std::filesystem::is_directory(paths.claudeCodeConfigDir(work.id)));
    EXPECT_TRUE(fake.trash.trashed.empty());
}

TEST_F(ProfileOperations, failedTrashIsReportedButTheProfileIsGone)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    buildApp(work);
    fake.trash.failure = "the trash is full";
    AppModel& m = start();

    await(m.deleteProfile(work, true));
    EXPECT_EQ(m.errorMessage(), "Couldn’t fully remove Work: the trash is full");
    EXPECT_TRUE(m.profiles().empty());
    EXPECT_FALSE(std::filesystem::exists(paths.appURL(work)));
    EXPECT_TRUE(std::filesystem::exists(paths.dataDir(work.id)));
}

TEST_F(ProfileOperations, restartWaitsTenSecondsForTheAppThenGivesUp)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    buildApp(work);
    const auto app = fake.workspace.launch(work.bundleIdentifier());
    app->refusesToQuit = true;
    AppModel& m = start();

    await(m.restart(work));
    EXPECT_EQ(m.errorMessage(), "Claude Work didn’t quit. Quit it, then open it again.");
    EXPECT_EQ(fake.clock.sleeps, std::vector<FakeClock::Duration>(100, 100ms));
    EXPECT_TRUE(fake.workspace.openedApplications.empty());
}

TEST_F(ProfileOperations, restartOfAnOutdatedAppQuitsRebuildsAndOpens)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    buildApp(work);
    setClaudeVersion("2.0.0");
    const auto app = fake.workspace.launch(work.bundleIdentifier());
    app->checksBeforeQuitting = 2;
    AppModel& m = start();
    settle();

    await(m.restart(work)); // the workspace has not yet reported the quit
    EXPECT_FALSE(m.errorMessage());
    EXPECT_EQ(buildsStarted(work.id), 1);
    EXPECT_EQ(m.status(work), CloneStatus::ready("2.0.0"));
    EXPECT_EQ(fake.workspace.openedApplications, std::vector<std::filesystem::path> {paths.appURL(work)});
}

TEST_F(ProfileOperations, openAllOpensInListOrderAndBringsARunningOneForward)
{
    const Profile a = makeProfile("A");
    const Profile b = makeProfile("B");
    const Profile c = makeProfile("C");
    storeProfiles({a, b, c});
    for (const Profile& profile : {a, b, c})
        buildApp(profile);
    const auto running = fake.workspace.launch(b.bundleIdentifier());
    AppModel& m = start();
    settle();

    await(m.openAll());
    EXPECT_EQ(running->activateRequests, 1);
    EXPECT_EQ(
        fake.workspace.openedApplications, (std::vector<std::filesystem::path> {paths.appURL(a), paths.appURL(c)}));
}

TEST_F(ProfileOperations, moveProfilesFollowsListMoveRulesAndSaves)
{
    const Profile a = makeProfile("A");
    const Profile b = makeProfile("B");
    const Profile c = makeProfile("C");
    storeProfiles({a, b, c});
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

TEST_F(ProfileOperations, revealDataCreatesAPrivateFolderAndShowsIt)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    AppModel& m = start();
    m.revealData(work);
    EXPECT_EQ(fake.fileViewer.revealed, std::vector<std::filesystem::path> {paths.dataDir(work.id)});
    EXPECT_EQ(modeOf(paths.dataDir(work.id)), 0700u);
    EXPECT_EQ(modeOf(paths.profileDir(work.id)), 0700u);
}

TEST_F(ProfileOperations, claudeCodeOpensTheCommandFileOrReportsWhyNot)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    AppModel& m = start();

    m.openClaudeCode(work);
    const auto commandFile = paths.profileDir(work.id) / "Claude Code.command";
    EXPECT_EQ(fake.terminal.opened, std::vector<std::filesystem::path> {commandFile});
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
    const Profile work = makeProfile("Work");
    AppModel& m = start();
    const auto claude = fake.workspace.launch(std::string(ClaudeDesktop::bundleIdentifier));
    const auto profileApp = launchApp(work);
    const auto other = fake.workspace.launch(std::string("org.example.editor"));
    m.quitOriginalClaude();
    EXPECT_EQ(claude->terminateRequests, 1);
    EXPECT_EQ(profileApp->terminateRequests, 0);
    EXPECT_EQ(other->terminateRequests, 0);
}

} // namespace
} // namespace korvel::test
