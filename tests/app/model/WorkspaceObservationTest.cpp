#include "app/model/SessionSync.hpp"
#include "core/model/ClaudeDesktop.hpp"
#include "tests/app/support/Await.hpp"
#include "tests/app/support/ModelSandbox.hpp"
#include "tests/app/support/PoolBlocker.hpp"

#include <gtest/gtest.h>

namespace korvel::test {
namespace {

using namespace std::chrono_literals;

using WorkspaceObservation = ModelSandbox;

TEST_F(WorkspaceObservation, launchMarksTheProfileRunningAndRechecksTheLinkHandlerAt2_8And23Seconds)
{
    fake.clock.manual = true;
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    registerBundle(work);
    AppModel& m = start();
    settle();

    launchApp(work);
    EXPECT_EQ(m.running(), std::set<Uuid> {work.id});
    EXPECT_EQ(m.lastLaunchedProfileID(), work.id);
    settle();

    // The system keeps giving the scheme to the new app; each check takes it back.
    const auto checksSoFar = [this, &work] {
        const size_t checks = fake.linkHandler.requests.size();
        fake.linkHandler.handlers["claude"] = paths.appURL(work);
        return checks;
    };
    checksSoFar();
    fake.clock.advance(1999ms);
    EXPECT_EQ(checksSoFar(), 0u);
    fake.clock.advance(1ms);
    EXPECT_EQ(checksSoFar(), 1u) << "2 s after the launch";
    fake.clock.advance(5999ms);
    EXPECT_EQ(checksSoFar(), 1u);
    fake.clock.advance(1ms);
    EXPECT_EQ(checksSoFar(), 2u) << "8 s after the launch";
    fake.clock.advance(14999ms);
    EXPECT_EQ(checksSoFar(), 2u);
    fake.clock.advance(1ms);
    EXPECT_EQ(checksSoFar(), 3u) << "23 s after the launch";
    EXPECT_EQ(fake.clock.pendingSleeps(), 0u);
    EXPECT_EQ(fake.linkHandler.requests.back().application, paths.sourceApp);
    EXPECT_EQ(fake.linkHandler.requests.back().scheme, "claude");
}

TEST_F(WorkspaceObservation, runningFollowsEveryLaunchAndQuitAndIncludesUnknownProfiles)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    AppModel& m = start();
    const Profile stranger = makeProfile("Not in the list");
    const auto strangerApp = launchApp(stranger);
    const auto anonymous = fake.workspace.launch(std::nullopt);
    EXPECT_EQ(m.running(), std::set<Uuid> {stranger.id});
    EXPECT_EQ(m.lastLaunchedProfileID(), stranger.id);

    const auto workApp = launchApp(work);
    EXPECT_EQ(m.running(), (std::set<Uuid> {work.id, stranger.id}));
    fake.workspace.quit(strangerApp);
    fake.workspace.quit(anonymous);
    EXPECT_EQ(m.running(), std::set<Uuid> {work.id});
    EXPECT_EQ(m.lastLaunchedProfileID(), work.id);
    fake.workspace.fire(Workspace::Event::DidTerminateApplication, nullptr);
    EXPECT_EQ(m.running(), std::set<Uuid> {work.id});
}

TEST_F(WorkspaceObservation, quitOfAnOutdatedAppRebuildsItOnlyWithAutomaticUpdatesOn)
{
    const Profile work = makeProfile("Work");
    const Profile home = makeProfile("Home");
    storeProfiles({work, home});
    buildApp(work);
    buildApp(home);
    setClaudeVersion("2.0.0");
    const auto workApp = launchApp(work);
    const auto homeApp = launchApp(home);
    AppModel& m = start();
    settle();
    EXPECT_EQ(buildsStarted(work.id) + buildsStarted(home.id), 0) << "running apps are never rebuilt";

    fake.workspace.quit(workApp);
    settle();
    EXPECT_EQ(buildsStarted(work.id), 1);
    EXPECT_EQ(m.status(work), CloneStatus::ready("2.0.0"));

    m.setAutoUpdateProfileApps(false);
    fake.workspace.quit(homeApp);
    settle();
    EXPECT_EQ(buildsStarted(home.id), 0);
    EXPECT_EQ(m.status(home), CloneStatus::outdated("1.0.0", "2.0.0"));
}

TEST_F(WorkspaceObservation, activationOfKorvelRebuildsOnlyStoppedAppsAndTheRunningOneWhenItQuits)
{
    const Profile work = makeProfile("Work");
    const Profile home = makeProfile("Home");
    storeProfiles({work, home});
    buildApp(work);
    buildApp(home);
    const auto workApp = launchApp(work);
    AppModel& m = start();
    settle();

    setClaudeVersion("2.0.0"); // Claude updated itself while Korvel was in the background
    fake.ownApplication.becomeActive();
    settle();
    EXPECT_EQ(buildsStarted(work.id), 0);
    EXPECT_EQ(buildsStarted(home.id), 1);
    EXPECT_EQ(m.status(home), CloneStatus::ready("2.0.0"));
    EXPECT_EQ(m.status(work), CloneStatus::outdated("1.0.0", "2.0.0"));

    fake.workspace.quit(workApp);
    settle();
    EXPECT_EQ(buildsStarted(work.id), 1);
    EXPECT_EQ(m.status(work), CloneStatus::ready("2.0.0"));
}

TEST_F(WorkspaceObservation, turningAutomaticUpdatesOnRebuildsNothingUntilTheNextActivation)
{
    fake.userDefaults.stored[AppModel::autoUpdateKey] = false;
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    buildApp(work);
    setClaudeVersion("2.0.0");
    AppModel& m = start();
    settle();

    m.setAutoUpdateProfileApps(true);
    settle();
    EXPECT_EQ(buildsStarted(work.id), 0);
    fake.ownApplication.becomeActive();
    settle();
    EXPECT_EQ(buildsStarted(work.id), 1);
}

TEST_F(WorkspaceObservation, activeProfileFollowsProfileAppsAndClaudeButNotOtherApps)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    const auto workApp = fake.workspace.launch(work.bundleIdentifier());
    fake.workspace.frontmost = workApp;
    AppModel& m = start();
    EXPECT_EQ(m.activeProfileID(), work.id) << "found in front at start";
    EXPECT_EQ(m.activeProfile(), work);

    fake.workspace.bringToFront(fake.workspace.launch(std::string("org.example.editor")));
    EXPECT_EQ(m.activeProfileID(), work.id);
    fake.workspace.bringToFront(launchApp(makeProfile("Not in the list")));
    EXPECT_EQ(m.activeProfileID(), work.id);
    fake.workspace.fire(Workspace::Event::DidActivateApplication, nullptr);
    EXPECT_EQ(m.activeProfileID(), work.id);

    fake.workspace.bringToFront(fake.workspace.launch(std::string(ClaudeDesktop::bundleIdentifier)));
    EXPECT_FALSE(m.activeProfileID());
    fake.workspace.bringToFront(workApp);
    EXPECT_EQ(m.activeProfileID(), work.id);
}

class SessionSyncRounds : public ModelSandbox
{
protected:
    const std::string account = "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D";

    void addSourceSession(const std::string& id)
    {
        writeText(paths.originalDataDir / "claude-code-sessions" / account / (id + ".json"), "{}");
    }
    void giveAccountTo(const Profile& profile)
    {
        std::filesystem::create_directories(paths.dataDir(profile.id) / "claude-code-sessions" / account);
    }
    void pinInSource(const std::string& id)
    {
        writeText(paths.originalDataDir / "claude_desktop_config.json",
            R"({"preferences": {"epitaxyPrefs": {"starred-local-code-sessions": [")" + id + R"("]}}})");
    }
};

TEST_F(SessionSyncRounds, pendingSessionsAddUpWhileTheAppRunsAndVanishWhenItQuits)
{
    const Profile work = makeProfile("Work");
    const Profile idle = makeProfile("Idle");
    storeProfiles({work, idle});
    giveAccountTo(work);
    const auto app = launchApp(work);
    launchApp(idle); // runs, but has no account to receive sessions
    for (const char* id : {"local_1", "local_2", "local_3"})
        addSourceSession(id);
    pinInSource("local_1");
    AppModel& m = start();
    settle();
    using Pending = std::map<Uuid, AppModel::PendingImport>;
    EXPECT_EQ(m.pendingAfterRestart(), (Pending {{work.id, {3, 1}}}));

    addSourceSession("local_4");
    addSourceSession("local_5");
    await(m.syncSessions());
    EXPECT_EQ(m.pendingAfterRestart(), (Pending {{work.id, {5, 1}}})) << "sessions add up, pins are the latest count";
    await(m.syncSessions());
    EXPECT_EQ(m.pendingAfterRestart(), (Pending {{work.id, {5, 1}}}));
    EXPECT_FALSE(std::filesystem::exists(paths.dataDir(work.id) / "claude_desktop_config.json"))
        << "a running app's configuration is not written";

    fake.workspace.quit(app);
    EXPECT_TRUE(m.pendingAfterRestart().empty());
    settle(); // the quit's status refresh syncs again, now merging the pin
    EXPECT_TRUE(m.pendingAfterRestart().empty());
    EXPECT_NE(readText(paths.dataDir(work.id) / "claude_desktop_config.json").find("local_1"), std::string::npos);
}

TEST_F(SessionSyncRounds, aTickDuringARoundStartsNoSecondRound)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    giveAccountTo(work);
    addSourceSession("local_1");
    AppModel& m = start();
    launchApp(work);
    settle();
    const int rounds = syncRoundsStarted();
    {
        PoolBlocker pool;
        auto round = m.syncSessions();
        EXPECT_TRUE(m.isSyncingSessions());
        tickSessionSyncTimer();
        spin();
        auto another = m.syncSessions();
        EXPECT_TRUE(another.isReady());
        pool.release();
        await(std::move(round));
    }
    settle();
    EXPECT_EQ(syncRoundsStarted(), rounds + 1);
    EXPECT_FALSE(m.isSyncingSessions());
}

TEST_F(SessionSyncRounds, aProfileThatCannotTakeSessionsDoesNotStopTheOthers)
{
    const Profile blocked = makeProfile("Blocked");
    const Profile work = makeProfile("Work");
    giveAccountTo(blocked);
    giveAccountTo(work);
    writeText(paths.originalDataDir / "claude-code-sessions" / account / "tools/local_1.json", "{}");
    writeText(paths.dataDir(blocked.id) / "claude-code-sessions" / account / "tools", "a file where a folder goes");
    const auto ledger = [this](const Profile& profile) {
        return paths.profileDir(profile.id) / SessionSync::ledgerFileName;
    };
    const auto results = SessionSync::run(paths.originalDataDir,
        {{blocked.id, paths.dataDir(blocked.id), ledger(blocked), true},
            {work.id, paths.dataDir(work.id), ledger(work), true}});
    EXPECT_EQ(results, (std::vector<SessionSync::Result> {{blocked.id, 0, 0}, {work.id, 1, 0}}));
    EXPECT_TRUE(
        std::filesystem::exists(paths.dataDir(work.id) / "claude-code-sessions" / account / "tools/local_1.json"));
}

TEST_F(SessionSyncRounds, aRoundWithoutProfilesChangesNothing)
{
    AppModel& m = start();
    settle();
    await(m.syncSessions());
    EXPECT_TRUE(m.pendingAfterRestart().empty());
    EXPECT_FALSE(m.isSyncingSessions());
}

} // namespace
} // namespace korvel::test
