#include "app/model/SessionSync.hpp"
#include "core/model/ClaudeDesktop.hpp"
#include "tests/app/model/ModelTest.hpp"
#include "tests/app/support/Await.hpp"
#include "tests/app/support/ModelSandbox.hpp"
#include "tests/app/support/PoolBlocker.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace korvel::test {
namespace {

using namespace std::chrono_literals;

using WorkspaceObservation = ModelTest;

TEST_F(WorkspaceObservation, launchMarksTheProfileRunningAndRechecksTheLinkHandlerAt2_8And23Seconds)
{
    fake.clock.manual = true;
    const auto [work] = stored("Work");
    registerBundle(work);
    AppModel& m = start();
    settle();

    launchApp(work);
    EXPECT_EQ(m.running(), std::set<Uuid> {work.id});
    EXPECT_EQ(m.lastLaunchedProfileID(), work.id);
    settle();

    // The system keeps giving the scheme to the new app; each check takes it back.
    fake.linkHandler.handlers["claude"] = paths.appURL(work);
    for (const auto& [wait, checks] : std::vector<std::pair<std::chrono::milliseconds, size_t>> {
             {1999ms, 0}, {1ms, 1}, {5999ms, 1}, {1ms, 2}, {14999ms, 2}, {1ms, 3}}) {
        fake.clock.advance(wait);
        EXPECT_EQ(fake.linkHandler.requests.size(), checks) << fake.clock.now.count() << " ms after the launch";
        fake.linkHandler.handlers["claude"] = paths.appURL(work);
    }
    EXPECT_EQ(fake.clock.pendingSleeps(), 0u);
    EXPECT_EQ(fake.linkHandler.requests.back().application, paths.sourceApp);
    EXPECT_EQ(fake.linkHandler.requests.back().scheme, "claude");
}

TEST_F(WorkspaceObservation, runningAndActiveProfilesFollowLaunchesQuitsAndActivationsOfProfileAppsOnly)
{
    const auto [work] = stored("Work");
    const auto workApp = fake.workspace.launch(work.bundleIdentifier());
    fake.workspace.frontmost = workApp;
    AppModel& m = start();
    EXPECT_EQ(m.running(), std::set<Uuid> {work.id});
    EXPECT_EQ(m.activeProfileID(), work.id) << "found in front at start";
    EXPECT_EQ(m.activeProfile(), work);

    const auto anonymous = fake.workspace.launch(std::nullopt);
    fake.workspace.bringToFront(fake.workspace.launch(std::string("org.example.editor")));
    const Profile stranger = makeProfile("Not in the list");
    const auto strangerApp = launchApp(stranger);
    EXPECT_EQ(m.running(), (std::set<Uuid> {work.id, stranger.id}));
    EXPECT_EQ(m.lastLaunchedProfileID(), stranger.id);
    fake.workspace.bringToFront(strangerApp);
    fake.workspace.fire(Workspace::Event::DidActivateApplication, nullptr);
    EXPECT_EQ(m.activeProfileID(), work.id) << "other apps and unknown profiles leave it as it was";

    fake.workspace.bringToFront(fake.workspace.launch(std::string(ClaudeDesktop::bundleIdentifier)));
    EXPECT_FALSE(m.activeProfileID());
    fake.workspace.quit(strangerApp);
    fake.workspace.quit(anonymous);
    fake.workspace.fire(Workspace::Event::DidTerminateApplication, nullptr);
    EXPECT_EQ(m.running(), std::set<Uuid> {work.id});
    fake.workspace.bringToFront(workApp);
    EXPECT_EQ(m.activeProfileID(), work.id);
}

TEST_F(WorkspaceObservation, outdatedAppsAreRebuiltOnlyWhileStoppedAndWithAutomaticUpdatesOn)
{
    const auto [work, home] = built("Work", "Home");
    setClaudeVersion("2.0.0");
    const auto workApp = launchApp(work);
    AppModel& m = start();
    settle();
    EXPECT_EQ(buildsStarted(home.id), 1) << "at start";
    EXPECT_EQ(buildsStarted(work.id), 0) << "running apps are never rebuilt";
    // Nor tried: a rebuild that reaches a running app refuses with an error the user never asked for.
    EXPECT_EQ(m.errorMessage(), std::nullopt);
    EXPECT_EQ(m.status(work), CloneStatus::outdated("1.0.0", "2.0.0"));
    fake.workspace.quit(workApp);
    settle();
    EXPECT_EQ(buildsStarted(work.id), 1) << "when it quits";
    EXPECT_EQ(m.status(work), CloneStatus::ready("2.0.0"));

    m.setAutoUpdateProfileApps(false);
    setClaudeVersion("3.0.0"); // Claude updated itself while Korvel was in the background
    fake.ownApplication.becomeActive();
    fake.workspace.quit(launchApp(home));
    settle();
    EXPECT_EQ(buildsStarted(work.id) + buildsStarted(home.id), 2);
    EXPECT_EQ(m.status(home), CloneStatus::outdated("2.0.0", "3.0.0"));

    const auto again = launchApp(work);
    m.setAutoUpdateProfileApps(true);
    settle();
    EXPECT_EQ(buildsStarted(work.id) + buildsStarted(home.id), 2) << "nothing until the next activation";
    fake.ownApplication.becomeActive();
    settle();
    EXPECT_EQ(buildsStarted(home.id), 2);
    EXPECT_EQ(buildsStarted(work.id), 1);
    EXPECT_EQ(m.errorMessage(), std::nullopt);
    fake.workspace.quit(again);
    settle();
    EXPECT_EQ(buildsStarted(work.id), 2);
    EXPECT_EQ(m.status(work), CloneStatus::ready("3.0.0"));
}

class SessionSyncRounds : public ModelTest
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
    void pinInSource(const std::vector<std::string>& ids)
    {
        nlohmann::json config;
        config["preferences"]["epitaxyPrefs"]["starred-local-code-sessions"] = ids;
        writeText(paths.originalDataDir / "claude_desktop_config.json", config.dump());
    }
};

TEST_F(SessionSyncRounds, eachRoundTellsWhatItBroughtAndPendingSessionsAddUpWhileTheAppRuns)
{
    const auto [work, stopped, idle] = stored("Work", "Stopped", "Idle");
    giveAccountTo(work);
    giveAccountTo(stopped);
    const auto app = launchApp(work);
    launchApp(idle); // runs, but has no account to receive sessions
    for (const char* id : {"local_1", "local_2", "local_3"})
        addSourceSession(id);
    pinInSource({"local_1"});
    AppModel& m = start();
    settle();
    using Pending = std::map<Uuid, AppModel::PendingImport>;
    EXPECT_EQ(m.pendingAfterRestart(), (Pending {{work.id, {3, 1}}}));

    std::vector<std::vector<SessionSync::Result>> rounds;
    QObject watch;
    QObject::connect(&m, &AppModel::sessionsSynced, &watch,
        [&rounds](const std::vector<SessionSync::Result>& results) { rounds.push_back(results); });
    addSourceSession("local_4");
    addSourceSession("local_5");
    pinInSource({"local_1", "local_4"});
    await(m.syncSessions());
    EXPECT_EQ(m.pendingAfterRestart(), (Pending {{work.id, {5, 2}}})) << "sessions add up, pins are the latest count";
    await(m.syncSessions());
    EXPECT_EQ(m.pendingAfterRestart(), (Pending {{work.id, {5, 2}}}));
    ASSERT_EQ(rounds.size(), 2u);
    EXPECT_EQ(rounds[0], (std::vector<SessionSync::Result> {{work.id, 2, 2, 0}, {stopped.id, 2, 0, 1}, {idle.id}}))
        << "merged into the stopped profile, waiting in the running one";
    EXPECT_EQ(rounds[1], (std::vector<SessionSync::Result> {{work.id, 0, 2, 0}, {stopped.id}, {idle.id}}));
    EXPECT_FALSE(std::filesystem::exists(paths.dataDir(work.id) / "claude_desktop_config.json"))
        << "a running app's configuration is not written";

    fake.workspace.quit(app);
    EXPECT_TRUE(m.pendingAfterRestart().empty());
    settle(); // the quit's status refresh syncs again, now merging the pins
    EXPECT_TRUE(m.pendingAfterRestart().empty());
    EXPECT_NE(readText(paths.dataDir(work.id) / "claude_desktop_config.json").find("local_4"), std::string::npos);
}

TEST_F(SessionSyncRounds, mcpServersComeOnlyWhileTheSettingIsOnAndWaitForARunningApp)
{
    const auto [work, stopped] = stored("Work", "Stopped");
    const auto app = launchApp(work);
    writeText(paths.originalDataDir / "claude_desktop_config.json",
        R"({"mcpServers": {"files": {"command": "files"}, "git": {"command": "git"}}})");
    const auto servers = [this](const Profile& profile) {
        const auto file = paths.dataDir(profile.id) / "claude_desktop_config.json";
        return std::filesystem::exists(file) ? nlohmann::json::parse(readText(file))["mcpServers"].size() : 0;
    };
    AppModel& m = start();
    settle();
    EXPECT_FALSE(m.bringMcpServers());
    EXPECT_EQ(servers(stopped), 0u) << "off unless turned on";
    EXPECT_TRUE(m.pendingAfterRestart().empty());

    m.setBringMcpServers(true);
    settle(); // turning it on syncs at once
    EXPECT_EQ(fake.userDefaults.stored.at(AppModel::bringMcpServersKey), true);
    EXPECT_EQ(servers(stopped), 2u);
    EXPECT_EQ(servers(work), 0u) << "a running app's configuration is not written";
    using Pending = std::map<Uuid, AppModel::PendingImport>;
    EXPECT_EQ(m.pendingAfterRestart(), (Pending {{work.id, {0, 0, 2}}}));

    fake.workspace.quit(app);
    settle();
    EXPECT_EQ(servers(work), 2u);
    EXPECT_TRUE(restart().bringMcpServers());
}

TEST_F(SessionSyncRounds, theTimerSyncsEvery30SecondsWhileAProfileAppRunsButNeverTwiceAtOnce)
{
    const auto [work] = stored("Work");
    giveAccountTo(work);
    addSourceSession("local_1");
    AppModel& m = start();
    settle();
    EXPECT_EQ(m.sessionSyncTimer().interval(), 30'000);
    EXPECT_TRUE(m.sessionSyncTimer().isActive());
    EXPECT_FALSE(m.sessionSyncTimer().isSingleShot());
    const int rounds = syncRoundsStarted();
    tickSessionSyncTimer();
    settle();
    EXPECT_EQ(syncRoundsStarted(), rounds) << "no profile app runs";

    launchApp(work);
    settle();
    {
        PoolBlocker pool;
        tickSessionSyncTimer();
        spin();
        ASSERT_TRUE(m.isSyncingSessions());
        tickSessionSyncTimer();
        spin();
        auto another = m.syncSessions();
        EXPECT_TRUE(another.isReady());
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
    ASSERT_EQ(results.size(), 2u);
    EXPECT_NE(results[0].failure.find("tools"), std::string::npos) << "the blocked one says why";
    EXPECT_EQ(results[1], (SessionSync::Result {work.id, 1, 0}));
    EXPECT_TRUE(
        std::filesystem::exists(paths.dataDir(work.id) / "claude-code-sessions" / account / "tools/local_1.json"));
}

TEST_F(SessionSyncRounds, aFailureIsToldOnceUntilItChanges)
{
    const auto [blocked] = built("Blocked");
    giveAccountTo(blocked);
    writeText(paths.originalDataDir / "claude-code-sessions" / account / "tools/local_1.json", "{}");
    writeText(paths.dataDir(blocked.id) / "claude-code-sessions" / account / "tools", "a file where a folder goes");
    AppModel& m = start();
    settle();
    ASSERT_TRUE(m.errorMessage());
    EXPECT_TRUE(m.errorMessage()->starts_with("Couldn’t bring sessions into Blocked: ")) << *m.errorMessage();
    m.setErrorMessage(std::nullopt);
    launchApp(blocked);
    tickSessionSyncTimer();
    settle();
    EXPECT_FALSE(m.errorMessage()) << "the same failure is not told every 30 seconds";
}

} // namespace
} // namespace korvel::test
