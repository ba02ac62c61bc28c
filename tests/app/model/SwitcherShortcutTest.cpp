// The switcher's global shortcut: bound through the platform at start and on every change, its failures and a desktop
// without global shortcuts told in the model's state, and a press (or `korvel switcher`) asking for the switcher.

#include "app/cli/CommandRunner.hpp"
#include "tests/app/model/ModelTest.hpp"
#include "tests/app/support/Await.hpp"

#include <gtest/gtest.h>

namespace korvel::test {
namespace {

using State = AppModel::SwitcherShortcut::State;
using Shortcut = ModelTest;

TEST_F(Shortcut, bindsTheStoredKeysAtStartAndAfterEachChangeAndAPressOrTheCommandAsksForTheSwitcher)
{
    AppModel& m = start();
    settle();
    EXPECT_EQ(fake.globalShortcut.bound, "Ctrl+Alt+K") << "the default";
    EXPECT_EQ(m.switcherShortcut().state, State::Bound);
    int requests = 0;
    QObject::connect(&m, &AppModel::switcherRequested, &m, [&requests] { ++requests; });
    fake.globalShortcut.press();
    EXPECT_EQ(requests, 1);
    const Invocation switcher = CommandSyntax::parse({"switcher"}).invocation;
    const CommandResult result = await(CommandRunner::run(m, switcher, CommandRunner::Place::RunningKorvel, {}));
    EXPECT_EQ(result.status, CommandResult::done);
    EXPECT_EQ(requests, 2);

    m.setSwitcherShortcut("Meta+Space");
    EXPECT_EQ(m.switcherShortcut().state, State::Binding);
    settle();
    EXPECT_EQ(fake.globalShortcut.bound, "Meta+Space");
    EXPECT_EQ(m.switcherShortcut().state, State::Bound);
    m.setSwitcherShortcut(""); // none
    settle();
    EXPECT_EQ(fake.globalShortcut.bound, "");
    EXPECT_EQ(m.switcherShortcut().state, State::None);
    EXPECT_EQ(fake.userDefaults.strings[AppModel::switcherShortcutKey], "");

    // None survives a restart: nothing is bound, not even the default.
    const int binds = fake.globalShortcut.bindCalls;
    EXPECT_EQ(restart().switcherShortcut().keys, "");
    settle();
    EXPECT_EQ(fake.globalShortcut.bindCalls, binds);
    // A command's model leaves the desktop's keys to the running Korvel.
    fake.userDefaults.strings.clear();
    stop();
    start(AppModel::Options {false, false, false, false});
    settle();
    EXPECT_EQ(fake.globalShortcut.bindCalls, binds);
}

TEST_F(Shortcut, aRefusalAndADesktopWithoutGlobalShortcutsAreToldNotThrownAndATryAgainCanSucceed)
{
    fake.globalShortcut.failure = "Ctrl+Alt+K is taken by another program";
    AppModel& m = start();
    settle();
    EXPECT_EQ(m.switcherShortcut().state, State::Failed);
    EXPECT_EQ(m.switcherShortcut().failure, "Ctrl+Alt+K is taken by another program");
    EXPECT_FALSE(m.errorMessage()) << "told in the settings, not in an alert at every start";
    fake.globalShortcut.failure.reset();
    m.setSwitcherShortcut("Ctrl+Alt+K");
    settle();
    EXPECT_EQ(m.switcherShortcut().state, State::Bound);
    EXPECT_EQ(m.switcherShortcut().failure, "");

    fake.globalShortcut.available = false;
    const int binds = fake.globalShortcut.bindCalls;
    AppModel& again = restart();
    settle();
    EXPECT_EQ(again.switcherShortcut().state, State::Unavailable);
    again.setSwitcherShortcut("Ctrl+Alt+J");
    settle();
    EXPECT_EQ(again.switcherShortcut().state, State::Unavailable);
    EXPECT_EQ(again.switcherShortcut().keys, "Ctrl+Alt+J") << "kept for a desktop that has them";
    EXPECT_EQ(fake.globalShortcut.bindCalls, binds);
}

} // namespace
} // namespace korvel::test
