// What the command line relies on besides the operations: a headless model that leaves the desktop alone, and a
// well-defined idle state.

#include "tests/app/model/ModelTest.hpp"
#include "tests/app/support/Await.hpp"
#include "tests/app/support/ModelSandbox.hpp"

#include <gtest/gtest.h>

namespace korvel::test {
namespace {

using HeadlessModel = ModelTest;
using ModelIdle = ModelTest;

constexpr AppModel::Options headless {false, false};

TEST_F(HeadlessModel, leavesTheLoginItemAndTheLinkHandlerAlone)
{
    const auto [work] = built("Work");
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
    const auto [work] = built("Work");
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

} // namespace
} // namespace korvel::test
