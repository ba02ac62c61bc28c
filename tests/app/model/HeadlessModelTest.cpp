// What the command line relies on besides the operations: a headless model that leaves the desktop alone, a
// well-defined idle state, failures as they happen, and what each sync round brought.

#include "tests/app/support/Await.hpp"
#include "tests/app/support/ModelSandbox.hpp"

#include <gtest/gtest.h>

namespace korvel::test {
namespace {

using HeadlessModel = ModelSandbox;
using ModelIdle = ModelSandbox;

constexpr AppModel::Options headless {false, false};

TEST_F(HeadlessModel, leavesTheLoginItemAndTheLinkHandlerAlone)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    buildApp(work);
    registerBundle(work);
    fake.mainBundle.path = "/Applications/Korvel.app";
    fake.linkHandler.handlers["claude"] = paths.appURL(work);
    fake.clock.manual = true;

    AppModel& m = start(headless);
    settle();
    EXPECT_EQ(fake.loginItem.enableCalls, 0);
    EXPECT_FALSE(fake.userDefaults.boolForKey(AppModel::launchAtLoginMarkerKey)) << "the first run is still to come";
    fake.workspace.bringToFront(launchApp(work));
    settle();
    EXPECT_EQ(m.activeProfileID(), work.id);
    EXPECT_EQ(fake.clock.pendingSleeps(), 0u) << "no checks after the launch";
    EXPECT_TRUE(fake.linkHandler.requests.empty());

    // Asked for, it changes the handler all the same.
    await(m.setRouteClaudeLinks(true));
    EXPECT_EQ(fake.linkHandler.handlers.at("claude"), fake.mainBundle.path);

    // The application's model does both.
    fake.linkHandler.handlers["claude"] = paths.appURL(work);
    stop();
    start();
    EXPECT_EQ(fake.loginItem.enableCalls, 1);
    EXPECT_EQ(fake.linkHandler.handlers.at("claude"), fake.mainBundle.path);
}

TEST_F(ModelIdle, isIdleOnlyWhenEveryOperationItStartedHasEnded)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    buildApp(work);
    setClaudeVersion("2.0.0");
    AppModel& m = start();
    int idleSignals = 0;
    QObject watch;
    QObject::connect(&m, &AppModel::idle, &watch, [&] {
        ++idleSignals;
        EXPECT_TRUE(m.isIdle());
    });
    EXPECT_FALSE(m.isIdle()) << "the start-up's sync and the update of the outdated app are on their way";

    ASSERT_TRUE(waitUntil([&] { return idleSignals > 0; }));
    EXPECT_EQ(statusOnDisk(work), CloneStatus::ready("2.0.0"));
    EXPECT_TRUE(m.busy().empty());

    // A rename starts its rebuild without waiting for it; idle means that rebuild is done.
    m.update(work, std::string("Job"), std::nullopt);
    EXPECT_FALSE(m.isIdle());
    idleSignals = 0;
    ASSERT_TRUE(waitUntil([&] { return idleSignals > 0; }));
    EXPECT_EQ(statusOnDisk(*m.profile(work.id)), CloneStatus::ready("2.0.0"));
    EXPECT_TRUE(std::filesystem::exists(paths.appsDir / "Claude Job.app"));

    // The link-handler checks after a launch wait 23 seconds; nobody waits for them.
    fake.clock.manual = true;
    registerBundle(*m.profile(work.id));
    launchApp(*m.profile(work.id));
    settle();
    EXPECT_GT(fake.clock.pendingSleeps(), 0u);
    EXPECT_TRUE(m.isIdle());
}

TEST_F(ModelIdle, failuresAreAnnouncedWithTheMessageTheModelShows)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    AppModel& m = start();
    settle();
    std::vector<std::string> failures;
    QObject watch;
    QObject::connect(&m, &AppModel::errorOccurred, &watch,
        [&failures](const QString& message) { failures.push_back(message.toStdString()); });
    removeClaude();
    await(m.rebuild(work));
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures.front(), m.errorMessage());
    EXPECT_EQ(failures.front().rfind("Couldn’t create the app for Work: ", 0), 0u);
}

TEST_F(ModelIdle, everySyncRoundTellsWhatItBroughtIntoEachProfile)
{
    const std::string account = "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D";
    const Profile stopped = makeProfile("Stopped");
    const Profile running = makeProfile("Running");
    storeProfiles({stopped, running});
    for (const Profile& profile : {stopped, running})
        std::filesystem::create_directories(paths.dataDir(profile.id) / "claude-code-sessions" / account);
    AppModel& m = start();
    launchApp(running);
    settle();
    for (const char* id : {"local_1", "local_2"})
        writeText(paths.originalDataDir / "claude-code-sessions" / account / (std::string(id) + ".json"), "{}");
    writeText(paths.originalDataDir / "claude_desktop_config.json",
        R"({"preferences": {"epitaxyPrefs": {"starred-local-code-sessions": ["local_1", "local_2"]}}})");

    std::vector<std::vector<SessionSync::Result>> rounds;
    QObject watch;
    QObject::connect(&m, &AppModel::sessionsSynced, &watch,
        [&rounds](const std::vector<SessionSync::Result>& results) { rounds.push_back(results); });
    await(m.syncSessions());
    ASSERT_EQ(rounds.size(), 1u);
    EXPECT_EQ(rounds[0], (std::vector<SessionSync::Result> {{stopped.id, 2, 0, 2}, {running.id, 2, 2, 0}}))
        << "merged into the stopped profile, waiting in the running one";

    await(m.syncSessions());
    ASSERT_EQ(rounds.size(), 2u);
    EXPECT_EQ(rounds[1], (std::vector<SessionSync::Result> {{stopped.id, 0, 0, 0}, {running.id, 0, 2, 0}}));
}

} // namespace
} // namespace korvel::test
