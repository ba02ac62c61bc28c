#include "app/model/MoveToApplications.hpp"
#include "core/support/UnicodeText.hpp"
#include "tests/app/model/ModelTest.hpp"
#include "tests/app/support/Await.hpp"
#include "tests/app/support/ModelSandbox.hpp"

#include <gtest/gtest.h>

namespace korvel::test {
namespace {

using Startup = ModelTest;

TEST_F(Startup, firstStartShowsWelcomeAndWritesNothingAndAStartWithProfilesSelectsTheFirstAndChecksEveryApp)
{
    AppModel& m = start();
    settle();
    EXPECT_TRUE(m.profiles().empty());
    EXPECT_FALSE(m.selection());
    EXPECT_FALSE(m.errorMessage());
    EXPECT_TRUE(m.showWelcome());
    EXPECT_TRUE(m.autoUpdateProfileApps());
    EXPECT_FALSE(m.routeClaudeLinks());
    EXPECT_FALSE(std::filesystem::exists(paths.profilesFile()));
    EXPECT_TRUE(fake.userDefaults.writes.empty()) << "start-up stores no setting";

    fake.userDefaults.stored[AppModel::didCompleteWelcomeKey] = true;
    EXPECT_FALSE(restart().showWelcome());
    fake.userDefaults.stored.clear();
    const auto [work, home] = stored("Work", "Home");
    buildApp(work);
    AppModel& again = restart();
    settle();
    EXPECT_FALSE(again.showWelcome());
    EXPECT_EQ(again.profiles(), (std::vector<Profile> {work, home}));
    EXPECT_EQ(again.selection(), work.id);
    EXPECT_EQ(again.statuses().size(), 2u);
    EXPECT_EQ(again.status(work), CloneStatus::ready("1.0.0"));
    EXPECT_EQ(again.status(home), CloneStatus::notBuilt()) << "a missing app is not built automatically";
    EXPECT_EQ(buildsStarted(home.id), 0);
}

TEST_F(Startup, settingsAreStoredOnEveryAssignmentAndSurviveARestartAndLaunchAtLoginReportsFailures)
{
    AppModel& m = start();
    m.setAutoUpdateProfileApps(false);
    m.setAutoUpdateProfileApps(false);
    m.setDidCompleteWelcome(true);
    const std::vector<std::pair<std::string, bool>> expected = {
        {AppModel::autoUpdateKey, false}, {AppModel::autoUpdateKey, false}, {AppModel::didCompleteWelcomeKey, true}};
    EXPECT_EQ(fake.userDefaults.writes, expected);

    AppModel& again = restart();
    EXPECT_FALSE(again.autoUpdateProfileApps()) << "the registered default must not override a stored value";
    EXPECT_TRUE(again.didCompleteWelcome());
    EXPECT_FALSE(again.showWelcome());
    EXPECT_EQ(fake.userDefaults.writes.size(), expected.size());

    int announcements = 0;
    QObject watch; // goes before what it counts
    QObject::connect(&again, &AppModel::changed, &watch, [&announcements] { ++announcements; });
    again.setLaunchAtLogin(true);
    EXPECT_TRUE(again.launchAtLogin());
    EXPECT_EQ(announcements, 1);
    fake.loginItem.failure = "the service said no";
    again.setLaunchAtLogin(false);
    EXPECT_TRUE(again.launchAtLogin());
    EXPECT_EQ(again.errorMessage(), "Couldn’t change Launch at Login: the service said no");
    EXPECT_GE(announcements, 2);
}

TEST_F(Startup, taskBarIdentityDefaultsToTheRelayInWaylandSessionsAndAChangeRebuildsTheAppsThatDoNotRun)
{
    const Profile work = makeProfile("Work"), home = makeProfile("Home");
    storeProfiles({work, home});
    buildApp(work);
    buildApp(home);
    // Each session's default, and a stored choice that outlives a change of session.
    const std::vector<std::pair<Workspace::Session, TaskBarIdentity>> defaults = {
        {Workspace::Session::X11, TaskBarIdentity::XWayland},
        {Workspace::Session::WaylandWithXWayland, TaskBarIdentity::Relay},
        {Workspace::Session::Wayland, TaskBarIdentity::Relay}};
    for (const auto& [session, identity] : defaults) {
        fake.workspace.desktopSession = session;
        EXPECT_EQ(restart().taskBarIdentity(), identity) << static_cast<int>(session);
        settle();
    }
    fake.workspace.desktopSession = Workspace::Session::WaylandWithXWayland;
    AppModel& m = restart();
    settle();
    EXPECT_EQ(m.status(work), CloneStatus::ready("1.0.0"));

    const auto running = launchApp(home);
    settle();
    m.setTaskBarIdentity(TaskBarIdentity::Native);
    settle();
    EXPECT_EQ(fake.userDefaults.stringForKey(AppModel::taskBarIdentityKey), "native");
    EXPECT_EQ(statusOnDisk(work), CloneStatus::damaged("task bar setting changed")) << "built again, as native";
    CloneBuilder native = builder();
    native.taskBarIdentity = TaskBarIdentity::Native;
    EXPECT_EQ(native.status(work), CloneStatus::ready("1.0.0"));
    EXPECT_EQ(m.status(home), CloneStatus::damaged("task bar setting changed")) << "running: rebuilt when it quits";
    fake.workspace.quit(running);
    settle();
    EXPECT_EQ(native.status(home), CloneStatus::ready("1.0.0"));

    fake.workspace.desktopSession = Workspace::Session::X11;
    EXPECT_EQ(restart().taskBarIdentity(), TaskBarIdentity::Native);
}

TEST_F(Startup, loginItemIsRegisteredOnceOnTheFirstStartFromAnApplicationsFolder)
{
    start();
    EXPECT_EQ(fake.loginItem.enableCalls, 0);
    EXPECT_FALSE(fake.userDefaults.boolForKey(AppModel::launchAtLoginMarkerKey)) << "outside Applications";

    fake.mainBundle.path = temp / "home/Applications/Korvel.app";
    restart();
    EXPECT_TRUE(fake.loginItem.enabled);
    EXPECT_TRUE(fake.userDefaults.boolForKey(AppModel::launchAtLoginMarkerKey));
    fake.loginItem.enabled = false; // the user turned it off
    restart();
    EXPECT_FALSE(fake.loginItem.enabled);
    EXPECT_EQ(fake.loginItem.enableCalls, 1);

    // Another first run: already on, there is nothing to register.
    fake.userDefaults.stored.clear();
    fake.mainBundle.path = "/Applications/Korvel.app";
    fake.loginItem.enabled = true;
    restart();
    EXPECT_EQ(fake.loginItem.enableCalls, 1);
    EXPECT_TRUE(fake.userDefaults.boolForKey(AppModel::launchAtLoginMarkerKey));

    // And one that fails: silently, and never again.
    fake.userDefaults.stored.clear();
    fake.loginItem.enabled = false;
    fake.loginItem.failure = "not allowed";
    EXPECT_FALSE(restart().errorMessage());
    EXPECT_EQ(fake.loginItem.enableCalls, 2);
    EXPECT_TRUE(fake.userDefaults.boolForKey(AppModel::launchAtLoginMarkerKey));
    restart();
    EXPECT_EQ(fake.loginItem.enableCalls, 2);
}

TEST_F(Startup, aProfileListThatDoesNotReadInFullIsKeptAsideBeforeTheFirstSave)
{
    const auto [home, play] = stored("Home", "Play");
    const std::string good = readText(paths.profilesFile());
    // Home, an entry whose colour is no colour, Play: the two that read are loaded, the other is named.
    const std::string partly =
        UnicodeText::replaceAll(good, "},\n    {", R"(}, {"id": "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D",
        "name": "Bad", "color": "mauve", "createdAt": "2026-12-05T16:05:19Z"}, {)");
    ASSERT_NE(partly, good);
    // Whole file unreadable → what is loaded, what the alert says.
    const std::vector<std::tuple<std::string, std::vector<Profile>, std::string>> cases = {
        {partly, {home, play},
            "Korvel couldn’t read one profile in your profile list and left it out: profile 2 (“Bad”): “mauve” is "
            "not a colour. The list stays as it is until your next change, which keeps a copy of it."},
        {"{ not json", {}, "Couldn’t read your profiles: "},
    };
    for (const auto& [text, loaded, message] : cases) {
        writeText(paths.profilesFile(), text);
        AppModel& m = restart();
        settle();
        EXPECT_EQ(m.profiles(), loaded);
        ASSERT_TRUE(m.errorMessage());
        EXPECT_TRUE(m.errorMessage()->starts_with(message)) << *m.errorMessage();
        EXPECT_EQ(readText(paths.profilesFile()), text) << "start-up must not touch the file";

        const auto work = await(m.createProfile("Work", ProfileColor::Teal, false));
        ASSERT_TRUE(work);
        std::vector<std::filesystem::path> aside;
        for (const auto& entry : std::filesystem::directory_iterator(paths.supportDir)) {
            if (entry.path().filename().string().starts_with("profiles.json.unreadable-"))
                aside.push_back(entry.path());
        }
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(readText(aside[0]), text);
        ASSERT_TRUE(m.errorMessage());
        EXPECT_NE(m.errorMessage()->find(aside[0].filename().string()), std::string::npos) << *m.errorMessage();
        std::vector<Profile> expected = loaded;
        expected.push_back(*work);
        EXPECT_EQ(ProfileStore(paths.profilesFile()).load(), expected);
        std::filesystem::remove(aside[0]);

        m.setErrorMessage(std::nullopt);
        m.update(*work, "Work 2", std::nullopt);
        settle();
        EXPECT_FALSE(m.errorMessage()) << "only the first save sets the old list aside";
        EXPECT_EQ(ProfileStore(paths.profilesFile()).load().back().name, "Work 2");
    }
}

TEST(MoveToApplications, isInApplicationsAcceptsOnlyTheTwoApplicationsFolders)
{
    const std::vector<std::pair<std::filesystem::path, bool>> cases {{"/Applications/Korvel.app", true},
        {"/home/ada/Applications/Korvel.app", true}, {"/Applications", false}, {"/opt/Applications/Korvel.app", false},
        {"/home/ada2/Applications/Korvel.app", false}, {"/home/ada/Applications2/Korvel.app", false},
        {"/home/ada/Downloads/Korvel.app", false}};
    for (const auto& [bundle, inside] : cases)
        EXPECT_EQ(MoveToApplications::isInApplications(bundle, "/home/ada"), inside) << bundle;
    EXPECT_TRUE(MoveToApplications::isInApplications("/home/ada/Applications/Korvel.app", "/home/ada/"));
}

} // namespace
} // namespace korvel::test
