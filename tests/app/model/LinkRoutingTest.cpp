#include "core/model/ClaudeDesktop.hpp"
#include "tests/app/model/ModelTest.hpp"
#include "tests/app/support/Await.hpp"
#include "tests/app/support/ModelSandbox.hpp"

#include <gtest/gtest.h>

namespace korvel::test {
namespace {

using LinkRouting = ModelTest;

TEST_F(LinkRouting, linksGoToTheActiveThenTheLastLaunchedRunningProfileElseToClaudeAndOnlyWhileRoutingIsOn)
{
    const auto [work, home] = stored("Work", "Home");
    AppModel& m = start();
    const auto workApp = launchApp(work);
    const auto homeApp = launchApp(home); // launched last
    fake.workspace.bringToFront(workApp); // but Work is in front
    const std::vector<std::string> links = {"claude://claude.ai/login?token=1", "claude://claude.ai/chat/2"};
    m.handle(links); // routing is off

    await(m.setRouteClaudeLinks(true));
    m.handle(links);
    fake.workspace.quit(workApp);
    m.handle(links);
    fake.workspace.quit(homeApp);
    m.handle(links);

    const auto& opened = fake.workspace.openedURLs;
    ASSERT_EQ(opened.size(), 4u);
    EXPECT_EQ(opened[0].application, paths.sourceApp);
    EXPECT_EQ(opened[1].application, paths.appURL(work));
    EXPECT_EQ(opened[1].urls, links);
    EXPECT_EQ(opened[2].application, paths.appURL(home));
    EXPECT_EQ(opened[3].application, paths.sourceApp);
}

TEST_F(LinkRouting, whatIsInFrontDecidesAndAWindowNobodyCanAttributeForgetsTheActiveProfile)
{
    const auto [work, home] = stored("Work", "Home");
    AppModel& m = start();
    await(m.setRouteClaudeLinks(true));
    const auto workApp = launchApp(work);
    const auto homeApp = launchApp(home); // launched last
    const auto claude = fake.workspace.launch(std::string(ClaudeDesktop::bundleIdentifier));
    const auto editor = fake.workspace.launch("org.example.editor");
    using enum Workspace::Event;
    // What comes to the front, and where a link goes then.
    const std::vector<std::pair<std::function<void()>, std::filesystem::path>> cases = {
        {[&] { fake.workspace.bringToFront(workApp); }, paths.appURL(work)},
        {[&] { fake.workspace.bringToFront(editor); }, paths.appURL(work)}, // the profile last in front
        {[&] { fake.workspace.bringToFront(claude); }, paths.appURL(home)}, // the one launched last
        {[&] { fake.workspace.bringToFront(workApp), fake.workspace.fire(FrontmostUnknown, nullptr); },
            paths.appURL(home)},
    };
    for (const auto& [bringForward, destination] : cases) {
        bringForward();
        m.handle({"claude://claude.ai/new"});
        EXPECT_EQ(fake.workspace.openedURLs.back().application, destination);
    }
    EXPECT_EQ(m.activeProfileID(), std::nullopt);

    // Switch To a profile whose windows no program may raise: said, not pretended.
    fake.workspace.desktopSession = Workspace::Session::WaylandWithXWayland;
    workApp->activates = false;
    await(m.open(work));
    EXPECT_EQ(workApp->activateRequests, 1);
    EXPECT_EQ(m.errorMessage(),
        "Couldn’t bring Claude Work forward: its windows are native Wayland windows, which Korvel can’t raise. "
        "Switch to it in the task bar, or choose “Through XWayland” for “Give each profile its own task-bar icon” in "
        "Korvel’s settings "
        "and open it again.");
}

TEST_F(LinkRouting, switchingRoutingMovesTheSchemeAndStoresTheSettingUnlessTheDesktopRefuses)
{
    AppModel& m = start();
    EXPECT_FALSE(m.isLinkRoutingActive()) << "no handler at all";
    fake.linkHandler.refusal = "the desktop refused";
    await(m.setRouteClaudeLinks(true));
    EXPECT_FALSE(m.routeClaudeLinks());
    EXPECT_FALSE(fake.userDefaults.stored.contains(AppModel::routeClaudeLinksKey));
    EXPECT_EQ(m.errorMessage(), "Couldn’t change the claude:// link handler: the desktop refused");

    fake.linkHandler.refusal.reset();
    await(m.setRouteClaudeLinks(true));
    EXPECT_TRUE(m.routeClaudeLinks());
    EXPECT_TRUE(fake.userDefaults.stored.at(AppModel::routeClaudeLinksKey));
    EXPECT_EQ(fake.linkHandler.handlers.at("claude"), ownBundle);
    EXPECT_TRUE(m.isLinkRoutingActive());
    const auto alias = temp / "Korvel alias.app";
    std::filesystem::create_directory_symlink(ownBundle, alias);
    fake.linkHandler.handlers["claude"] = alias;
    EXPECT_TRUE(m.isLinkRoutingActive()) << "the handler resolves to our bundle";

    AppModel& again = restart();
    EXPECT_TRUE(again.routeClaudeLinks());
    await(again.setRouteClaudeLinks(false));
    EXPECT_FALSE(again.routeClaudeLinks());
    EXPECT_FALSE(fake.userDefaults.stored.at(AppModel::routeClaudeLinksKey));
    EXPECT_EQ(fake.linkHandler.handlers.at("claude"), paths.sourceApp);
    EXPECT_FALSE(again.isLinkRoutingActive());
}

TEST_F(LinkRouting, aProfileAppHoldingTheSchemeIsRepairedSilentlyAndAnotherApplicationIsLeftAlone)
{
    const auto [work] = stored("Work");
    registerBundle(work);
    fake.linkHandler.handlers["claude"] = paths.appURL(work);
    fake.linkHandler.refusal = "no";
    AppModel& m = start();
    EXPECT_EQ(fake.linkHandler.requests.size(), 1u);
    EXPECT_FALSE(m.errorMessage()) << "a refused repair says nothing";

    fake.linkHandler.refusal.reset();
    m.repairLinkHandlerIfNeeded();
    EXPECT_EQ(fake.linkHandler.handlers.at("claude"), paths.sourceApp) << "routing off: back to Claude";
    await(m.setRouteClaudeLinks(true));
    fake.linkHandler.handlers["claude"] = paths.appURL(work);
    fake.workspace.bringToFront(launchApp(work));
    EXPECT_EQ(fake.linkHandler.handlers.at("claude"), ownBundle) << "routing on: back to Korvel, on activation";

    const size_t requests = fake.linkHandler.requests.size();
    const auto other = temp / "Other.app";
    fake.workspace.bundleIdentifiers[other] = "org.example.other";
    fake.linkHandler.handlers["claude"] = other;
    m.repairLinkHandlerIfNeeded();
    EXPECT_FALSE(m.isLinkRoutingActive());
    fake.linkHandler.handlers["claude"] = temp / "Unreadable.app"; // no identifier to be read
    m.repairLinkHandlerIfNeeded();
    EXPECT_EQ(fake.linkHandler.requests.size(), requests);
    EXPECT_TRUE(m.routeClaudeLinks());
}

} // namespace
} // namespace korvel::test
