#include "tests/app/support/Await.hpp"
#include "tests/app/support/ModelSandbox.hpp"

#include <gtest/gtest.h>

namespace korvel::test {
namespace {

using LinkRouting = ModelSandbox;

TEST_F(LinkRouting, linksGoToTheActiveThenTheLastLaunchedRunningProfileElseToClaude)
{
    const Profile work = makeProfile("Work");
    const Profile home = makeProfile("Home");
    storeProfiles({work, home});
    AppModel& m = start();
    await(m.setRouteClaudeLinks(true));
    ASSERT_TRUE(m.routeClaudeLinks());

    const auto workApp = launchApp(work);
    const auto homeApp = launchApp(home); // launched last
    fake.workspace.bringToFront(workApp); // but Work is in front
    const std::vector<std::string> links = {"claude://claude.ai/login?token=1", "claude://claude.ai/chat/2"};
    m.handle(links);
    fake.workspace.quit(workApp);
    m.handle(links);
    fake.workspace.quit(homeApp);
    m.handle(links);

    ASSERT_EQ(fake.workspace.openedURLs.size(), 3u);
    EXPECT_EQ(fake.workspace.openedURLs[0].application, paths.appURL(work));
    EXPECT_EQ(fake.workspace.openedURLs[0].urls, links);
    EXPECT_EQ(fake.workspace.openedURLs[1].application, paths.appURL(home));
    EXPECT_EQ(fake.workspace.openedURLs[2].application, paths.sourceApp);
}

TEST_F(LinkRouting, withRoutingOffLinksGoToClaudeEvenWhileAProfileAppRuns)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    AppModel& m = start();
    fake.workspace.bringToFront(launchApp(work));
    m.handle({"claude://claude.ai/new"});
    ASSERT_EQ(fake.workspace.openedURLs.size(), 1u);
    EXPECT_EQ(fake.workspace.openedURLs[0].application, paths.sourceApp);
}

TEST_F(LinkRouting, switchingRoutingMovesTheSchemeAndStoresTheSetting)
{
    AppModel& m = start();
    EXPECT_FALSE(m.isLinkRoutingActive()) << "no handler at all";

    await(m.setRouteClaudeLinks(true));
    EXPECT_TRUE(m.routeClaudeLinks());
    EXPECT_TRUE(fake.userDefaults.stored.at(AppModel::routeClaudeLinksKey));
    EXPECT_EQ(fake.linkHandler.handlers.at("claude"), ownBundle);
    EXPECT_TRUE(m.isLinkRoutingActive());

    AppModel& again = restart();
    EXPECT_TRUE(again.routeClaudeLinks());
    await(again.setRouteClaudeLinks(false));
    EXPECT_FALSE(again.routeClaudeLinks());
    EXPECT_FALSE(fake.userDefaults.stored.at(AppModel::routeClaudeLinksKey));
    EXPECT_EQ(fake.linkHandler.handlers.at("claude"), paths.sourceApp);
    EXPECT_FALSE(again.isLinkRoutingActive());
}

TEST_F(LinkRouting, aRefusedHandlerChangeKeepsTheSettingAndSaysWhy)
{
    AppModel& m = start();
    fake.linkHandler.refusal = "the desktop refused";
    await(m.setRouteClaudeLinks(true));
    EXPECT_FALSE(m.routeClaudeLinks());
    EXPECT_FALSE(fake.userDefaults.stored.contains(AppModel::routeClaudeLinksKey));
    EXPECT_EQ(m.errorMessage(), "Couldn’t change the claude:// link handler: the desktop refused");
}

TEST_F(LinkRouting, routingIsActiveWhenTheHandlerResolvesToOurBundle)
{
    AppModel& m = start();
    const auto alias = temp / "Korvel alias.app";
    std::filesystem::create_directory_symlink(ownBundle, alias);
    fake.linkHandler.handlers["claude"] = alias;
    EXPECT_TRUE(m.isLinkRoutingActive());
    fake.linkHandler.handlers["claude"] = temp / "Elsewhere.app";
    EXPECT_FALSE(m.isLinkRoutingActive());
}

TEST_F(LinkRouting, aProfileAppHoldingTheSchemeIsRepairedAtStartAndOnActivation)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    registerBundle(work);
    fake.linkHandler.handlers["claude"] = paths.appURL(work);
    AppModel& m = start();
    EXPECT_EQ(fake.linkHandler.handlers.at("claude"), paths.sourceApp) << "routing off: back to Claude";

    await(m.setRouteClaudeLinks(true));
    fake.linkHandler.handlers["claude"] = paths.appURL(work);
    fake.workspace.bringToFront(launchApp(work));
    EXPECT_EQ(fake.linkHandler.handlers.at("claude"), ownBundle) << "routing on: back to Korvel";
    EXPECT_TRUE(m.routeClaudeLinks());
}

TEST_F(LinkRouting, anotherApplicationHoldingTheSchemeIsLeftAlone)
{
    const auto other = temp / "Other.app";
    fake.workspace.bundleIdentifiers[other] = "org.example.other";
    fake.linkHandler.handlers["claude"] = other;
    AppModel& m = start();
    m.repairLinkHandlerIfNeeded();
    EXPECT_TRUE(fake.linkHandler.requests.empty());
    EXPECT_FALSE(m.isLinkRoutingActive());

    fake.linkHandler.handlers["claude"] = temp / "Unreadable.app"; // no identifier to be read
    m.repairLinkHandlerIfNeeded();
    EXPECT_TRUE(fake.linkHandler.requests.empty());
}

TEST_F(LinkRouting, aRefusedRepairChangesNothingAndSaysNothing)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    registerBundle(work);
    fake.linkHandler.handlers["claude"] = paths.appURL(work);
    fake.linkHandler.refusal = "no";
    AppModel& m = start();
    EXPECT_EQ(fake.linkHandler.requests.size(), 1u);
    EXPECT_FALSE(m.errorMessage());
    EXPECT_FALSE(m.routeClaudeLinks());
}

} // namespace
} // namespace korvel::test
