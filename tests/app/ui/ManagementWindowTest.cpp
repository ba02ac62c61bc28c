// The management window over the model on the fake desktop: sidebar, detail, empty state, alerts, reordering.

#include "tests/app/ui/support/UiSandbox.hpp"

#include "app/ui/ColorPalette.hpp"
#include "app/ui/ContentView.hpp"
#include "app/ui/EmptyStateView.hpp"
#include "app/ui/ProfileBadge.hpp"
#include "app/ui/ProfileDetailView.hpp"
#include "app/ui/Sidebar.hpp"
#include "app/ui/SidebarRow.hpp"
#include "app/ui/StatusDot.hpp"
#include "tests/app/support/Await.hpp"
#include "tests/support/ScopedEnvironment.hpp"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest/QTest>
#include <gmock/gmock.h>

namespace korvel::test {
namespace {

using ::testing::ElementsAre;

class ManagementWindowTest : public UiSandbox
{
protected:
    ~ManagementWindowTest() override
    {
        window.reset();
        settle();
    }

    ContentView& openWindow()
    {
        if (!model)
            start();
        window = std::make_unique<ContentView>(*model, fake.platform());
        showAndWait(*window);
        return *window;
    }

    ProfileDetailView& detail()
    {
        ProfileDetailView* view = window->profileDetail();
        if (!view)
            throw std::runtime_error("no profile is shown");
        return *view;
    }

    std::vector<std::string> subtitles() const
    {
        std::vector<std::string> list;
        for (int row = 0; row < window->sidebar()->list()->count(); ++row)
            list.push_back(window->sidebar()->row(row)->subtitleText().toStdString());
        return list;
    }

    std::vector<std::string> names() const
    {
        std::vector<std::string> list;
        for (const Profile& profile : model->profiles())
            list.push_back(profile.name);
        return list;
    }

    // A Claude Code session of `account` in Claude Desktop's own data, and the account known to the profile.
    void addSession(const std::string& account, const std::string& id, const std::optional<Profile>& knownBy = {})
    {
        writeText(paths.originalDataDir / "claude-code-sessions" / account / (id + ".json"), "{}");
        if (knownBy)
            std::filesystem::create_directories(paths.dataDir(knownBy->id) / "claude-code-sessions" / account);
    }

    QMessageBox* openMessageBox()
    {
        QMessageBox* box = nullptr;
        eventually([&box] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* candidate = qobject_cast<QMessageBox*>(widget); candidate && candidate->isVisible())
                    box = candidate;
            }
            return box != nullptr;
        });
        return box;
    }

    std::unique_ptr<ContentView> window;
};

const std::string account = "5F3C6A1E-2B7D-4E8A-9C10-7D2E4B6A8F01";

// Stand-ins for the signing and registration tools; signing waits until the gate opens (on destruction).
class BuildGate
{
public:
    explicit BuildGate(const std::filesystem::path& folder)
        : m_open(folder / "open")
        , m_tools("KORVEL_TOOLS_DIR", folder.string())
    {
        const auto tool = [&folder](const char* name, const std::string& body) {
            writeText(folder / name, "#!/bin/sh\n" + body + "exit 0\n");
            std::filesystem::permissions(folder / name, std::filesystem::perms(0755));
        };
        tool("codesign", "while [ ! -e '" + m_open.string() + "' ]; do sleep 0.02; done\n");
        tool("xattr", "");
        tool("lsregister", "");
    }
    ~BuildGate() { open(); }
    void open() { writeText(m_open, "open"); }

private:
    std::filesystem::path m_open;
    ScopedEnvironment m_tools;
};

TEST_F(ManagementWindowTest, WithoutProfilesTheWindowInvitesToCreateOne)
{
    fake.userDefaults.setBool(AppModel::didCompleteWelcomeKey, true);
    ContentView& view = openWindow();
    EXPECT_EQ(view.windowTitle(), "Korvel");
    EXPECT_EQ(view.size(), QSize(860, 560));
    EXPECT_EQ(view.sidebar()->list()->count(), 0);
    ASSERT_FALSE(view.profileDetail());
    EmptyStateView& empty = *view.emptyState();
    EXPECT_TRUE(empty.isVisible());
    EXPECT_EQ(empty.title(), "No profiles yet");
    EXPECT_EQ(empty.text(), "Each profile is its own Claude app with its own login,\nDock icon and chat history.");
    EXPECT_TRUE(empty.createButton()->isVisible());
    EXPECT_FALSE(view.openAllButton()->isEnabled());
    EXPECT_EQ(view.openAllButton()->text(), "Open All");
    EXPECT_EQ(view.openAllButton()->toolTip(), "Open every profile");
    EXPECT_EQ(view.newProfileButton()->toolTip(), "Create a profile for another Claude account");
    screenshot(view, "window-empty");

    empty.createButton()->click();
    EXPECT_TRUE(model->showNewProfile());
    EXPECT_TRUE(eventually([&view] { return view.newProfileSheet() && view.newProfileSheet()->isVisible(); }));
}

TEST_F(ManagementWindowTest, WithProfilesButNoneSelectedItAsksToSelectOne)
{
    storeProfiles({makeProfile("Work")});
    ContentView& view = openWindow();
    EXPECT_TRUE(view.openAllButton()->isEnabled());
    ASSERT_TRUE(view.profileDetail()) << "the first profile is selected at start";
    model->setSelection(std::nullopt);
    EXPECT_FALSE(view.profileDetail());
    EXPECT_EQ(view.emptyState()->title(), "Select a profile");
    EXPECT_FALSE(view.emptyState()->createButton()->isVisible());
    EXPECT_TRUE(view.sidebar()->list()->selectedItems().isEmpty());

    // Clicking a row selects its profile in the model.
    QListWidget& list = *view.sidebar()->list();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, list.visualItemRect(list.item(0)).center());
    EXPECT_EQ(model->selection(), model->profiles()[0].id);
    EXPECT_TRUE(view.profileDetail());
}

TEST_F(ManagementWindowTest, SidebarSubtitlesFollowTheFirstRuleThatApplies)
{
    const Profile ready = makeProfile("Ready", ProfileColor::Green);
    const Profile fresh = makeProfile("Fresh");
    const Profile running = makeProfile("Running", ProfileColor::Pink);
    const Profile active = makeProfile("Active", ProfileColor::Purple);
    storeProfiles({ready, fresh, running, active});
    for (const Profile& profile : {ready, running, active})
        buildApp(profile);
    fake.userDefaults.setBool(AppModel::autoUpdateKey, false);
    ContentView& view = openWindow();
    launchApp(running);
    fake.workspace.bringToFront(launchApp(active));
    settle();
    EXPECT_THAT(subtitles(), ElementsAre("Not running", "Needs setup", "Running", "Active"));
    EXPECT_EQ(view.sidebar()->row(0)->accessibleText(), "Ready, Not running");
    EXPECT_TRUE(view.sidebar()->row(2)->statusDot()->running());
    EXPECT_FALSE(view.sidebar()->row(0)->statusDot()->running());
    EXPECT_EQ(view.sidebar()->row(0)->statusDot()->accessibleName(), "Not running");
    EXPECT_EQ(view.sidebar()->row(2)->statusDot()->accessibleName(), "Running");
    EXPECT_FALSE(view.sidebar()->showsMissingClaudeWarning());
    screenshot(view, "window-sidebar");

    // Claude Desktop updated: stopped built apps are outdated.
    setClaudeVersion("2.0.0");
    model->refreshStatuses();
    settle();
    EXPECT_THAT(subtitles(), ElementsAre("Update ready", "Needs setup", "Running", "Active"));

    // Claude Desktop gone: the sidebar warns and the stopped apps say so.
    removeClaude();
    model->refreshStatuses();
    settle();
    // A built app stays ready; only a profile without an app has nothing to build from.
    EXPECT_THAT(subtitles(), ElementsAre("Not running", "Claude not installed", "Running", "Active"));
    EXPECT_TRUE(view.sidebar()->showsMissingClaudeWarning());
    EXPECT_EQ(view.sidebar()->missingClaudeWarning()->text(), "Claude Desktop isn’t installed in /Applications.");
    model->setSelection(ready.id);
    EXPECT_FALSE(detail().openButton()->isEnabled()) << "nothing to open without Claude Desktop";
    EXPECT_FALSE(detail().rebuildButton()->isEnabled());
    screenshot(view, "window-claude-missing");
}

TEST_F(ManagementWindowTest, BusyProfilesShowTheirMessageAndASpinnerAndLockTheirButtons)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    ContentView& view = openWindow();
    // Signing waits for the gate, so the build is certainly still running while the window is looked at. (The
    // thread pool cannot simply be blocked: Qt paints large areas with it.)
    BuildGate gate(temp / "tools");
    {
        detail().rebuildButton()->click();
        ASSERT_TRUE(eventually([this, &work] { return model->busy().contains(work.id); }));
        SidebarRow& row = *view.sidebar()->row(0);
        EXPECT_EQ(row.subtitleText(), "Creating app…");
        EXPECT_TRUE(row.showsSpinner());
        EXPECT_FALSE(row.statusDot()->isVisible());
        EXPECT_TRUE(detail().busyText()->isVisible());
        EXPECT_EQ(detail().busyText()->text(), "Creating app…");
        EXPECT_FALSE(detail().openButton()->isVisible());
        EXPECT_FALSE(detail().rebuildButton()->isEnabled());
        EXPECT_FALSE(detail().deleteButton()->isEnabled());
        screenshot(view, "window-busy");
    }
    gate.open();
    settle();
    EXPECT_FALSE(view.sidebar()->row(0)->showsSpinner());
    EXPECT_EQ(view.sidebar()->row(0)->subtitleText(), "Not running");
    EXPECT_TRUE(detail().deleteButton()->isEnabled());
    EXPECT_TRUE(detail().openButton()->isVisible());
    EXPECT_TRUE(detail().rebuildButton()->isEnabled());
    EXPECT_EQ(detail().statusSummary()->text(), "Ready · Claude 1.0.0");
}

TEST_F(ManagementWindowTest, RunningProfilesOfferQuitAndOpenOrSwitchTo)
{
    const Profile work = makeProfile("Work");
    const Profile home = makeProfile("Home", ProfileColor::Red);
    storeProfiles({work, home});
    buildApp(work);
    buildApp(home);
    ContentView& view = openWindow();
    ProfileDetailView* shown = &detail();
    EXPECT_TRUE(detail().openButton()->isEnabled());
    EXPECT_FALSE(detail().quitButton()->isVisible());
    EXPECT_EQ(detail().statusText()->text(), "Not running");
    EXPECT_TRUE(detail().openButton()->toolTip().isEmpty());

    const auto app = launchApp(work);
    EXPECT_EQ(&detail(), shown) << "the same profile keeps its view";
    EXPECT_TRUE(detail().quitButton()->isVisible());
    EXPECT_EQ(detail().openButton()->text(), "Open");
    EXPECT_EQ(detail().openButton()->toolTip(), "Bring Claude Work’s window to the front");
    EXPECT_EQ(detail().statusText()->text(), "Running");
    EXPECT_FALSE(detail().rebuildButton()->isEnabled()) << "a running app is never rebuilt";

    fake.workspace.bringToFront(app);
    EXPECT_EQ(detail().statusText()->text(), "Running · Active");
    launchApp(home);
    EXPECT_EQ(detail().openButton()->text(), "Switch To");
    screenshot(view, "window-running");

    detail().openButton()->click();
    settle();
    EXPECT_EQ(app->unhideRequests, 1);
    EXPECT_EQ(app->activateRequests, 1) << "Switch To brings the running app forward";
    EXPECT_TRUE(fake.workspace.openedApplications.empty()) << "nothing is started again";
    detail().quitButton()->click();
    EXPECT_EQ(app->terminateRequests, 1);
}

TEST_F(ManagementWindowTest, NamesAreCommittedOnReturnAndBlankNamesRestored)
{
    const Profile work = makeProfile("Work");
    const Profile home = makeProfile("Home");
    storeProfiles({work, home});
    ContentView& view = openWindow();
    QLineEdit& field = *detail().nameField();
    EXPECT_EQ(field.text(), "Work");
    EXPECT_FALSE(eventually([&field] { return field.hasFocus(); }, std::chrono::milliseconds(200)))
        << "the name field is not focused on arrival";

    field.setFocus();
    field.setText("   ");
    QTest::keyClick(&field, Qt::Key_Return);
    EXPECT_EQ(field.text(), "Work") << "a blank name puts the stored one back";
    EXPECT_THAT(names(), ElementsAre("Work", "Home"));
    EXPECT_TRUE(fake.workspace.openedApplications.empty()) << "Return in the field does not open the app";

    field.setText("");
    QTest::keyClick(&field, Qt::Key_Return);
    EXPECT_EQ(field.text(), "Work");

    field.setText("  Client A ");
    EXPECT_EQ(detail().badge()->letter(), "C") << "the badge previews the edited name";
    EXPECT_THAT(names(), ElementsAre("Work", "Home")) << "nothing is saved while typing";
    QTest::keyClick(&field, Qt::Key_Return);
    EXPECT_THAT(names(), ElementsAre("Client A", "Home"));
    EXPECT_EQ(detail().appName()->text(), "Claude Client A");

    // Selecting another profile commits what was typed.
    detail().nameField()->setText("Acme");
    model->setSelection(home.id);
    EXPECT_THAT(names(), ElementsAre("Acme", "Home"));
    EXPECT_EQ(detail().nameField()->text(), "Home") << "a fresh view for the other profile";
    settle();
    (void)view;
}

TEST_F(ManagementWindowTest, ColourChangesAreSavedAtOnce)
{
    const Profile work = makeProfile("Work", ProfileColor::Blue);
    storeProfiles({work});
    buildApp(work);
    ContentView& view = openWindow();
    launchApp(work); // no rebuild while it runs: what the view calls is visible in the model only
    ColorPalette& palette = *detail().colorPalette();
    EXPECT_EQ(palette.swatch(ProfileColor::Green)->toolTip(), "Green");
    EXPECT_EQ(palette.swatch(ProfileColor::Graphite)->accessibleName(), "Graphite");
    EXPECT_TRUE(palette.swatch(ProfileColor::Blue)->isChecked());
    EXPECT_FALSE(detail().renameNotice()->isVisible());

    QTest::mouseClick(palette.swatch(ProfileColor::Green), Qt::LeftButton);
    EXPECT_EQ(model->profiles()[0].color, ProfileColor::Green) << "no Return needed";
    EXPECT_EQ(detail().badge()->color(), ProfileColor::Green);
    EXPECT_TRUE(palette.swatch(ProfileColor::Green)->isChecked());
    EXPECT_FALSE(palette.swatch(ProfileColor::Blue)->isChecked());
    EXPECT_EQ(view.sidebar()->row(0)->badge()->color(), ProfileColor::Green);
    EXPECT_TRUE(detail().renameNotice()->isVisible()) << "the running app keeps its old colour until it quits";
    screenshot(view, "window-recoloured");

    const auto writes = fake.userDefaults.writes.size();
    const auto saved = std::filesystem::last_write_time(paths.profilesFile());
    QTest::mouseClick(palette.swatch(ProfileColor::Green), Qt::LeftButton);
    EXPECT_EQ(std::filesystem::last_write_time(paths.profilesFile()), saved) << "the same colour again changes nothing";
    EXPECT_EQ(fake.userDefaults.writes.size(), writes);
}

TEST_F(ManagementWindowTest, SessionsWaitingForARestartShowOnlyWhileTheAppRuns)
{
    EXPECT_EQ(ProfileDetailView::pendingTitle({1, 3}), "1 session and 3 pins ready");
    EXPECT_EQ(ProfileDetailView::pendingTitle({0, 2}), "2 pins ready");
    EXPECT_EQ(ProfileDetailView::pendingTitle({2, 1}), "2 sessions and 1 pin ready");
    EXPECT_EQ(ProfileDetailView::pendingTitle({12, 0}), "12 sessions ready");

    const Profile work = makeProfile("Work");
    storeProfiles({work});
    buildApp(work);
    ContentView& view = openWindow();
    EXPECT_FALSE(detail().pendingBanner()->isVisible());
    const auto app = launchApp(work);
    addSession(account, "local_one", work);
    tickSessionSyncTimer();
    settle();
    ASSERT_TRUE(model->pendingAfterRestart().contains(work.id));
    EXPECT_TRUE(detail().pendingBanner()->isVisible());
    EXPECT_EQ(detail().pendingTitleLabel()->text(), "1 session ready");
    EXPECT_EQ(
        detail().pendingText()->text(), "Brought over from your main Claude app. Restart Claude Work to see them.");
    EXPECT_EQ(detail().restartButton()->text(), "Restart Now");
    screenshot(view, "window-pending");

    // The app quits: the banner goes with the pending entry.
    fake.workspace.quit(app);
    settle();
    EXPECT_FALSE(detail().pendingBanner()->isVisible());
}

TEST_F(ManagementWindowTest, RestartNowRestartsTheApp)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    buildApp(work);
    ContentView& view = openWindow();
    const auto app = launchApp(work);
    addSession(account, "local_one", work);
    tickSessionSyncTimer();
    settle();
    ASSERT_TRUE(detail().restartButton()->isVisible());
    detail().restartButton()->click();
    ASSERT_TRUE(eventually([&app] { return app->terminateRequests == 1; }));
    fake.workspace.quit(app);
    settle();
    EXPECT_THAT(fake.workspace.openedApplications, ElementsAre(paths.appURL(work)));
    (void)view;
}

TEST_F(ManagementWindowTest, DeletingAsksFirstAndKeepsOrTrashesTheData)
{
    const Profile work = makeProfile("Work");
    const Profile home = makeProfile("Home");
    const Profile spare = makeProfile("Spare");
    storeProfiles({work, home, spare});
    for (const Profile& profile : {work, home, spare}) {
        buildApp(profile);
        std::filesystem::create_directories(paths.dataDir(profile.id));
    }
    ContentView& view = openWindow();

    detail().deleteButton()->click();
    QMessageBox* box = detail().deleteConfirmation();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text(), "Delete “Work”?");
    EXPECT_EQ(box->informativeText(),
        "This removes Claude Work. Moving its data to the Trash signs this account out "
        "and removes its local chat history from this Mac.");
    std::vector<std::string> buttons;
    for (QAbstractButton* button : box->buttons())
        buttons.push_back(button->text().toStdString());
    EXPECT_THAT(buttons,
        ::testing::UnorderedElementsAre(
            "Delete Profile and Move Data to Trash", "Delete Profile, Keep Data", ::testing::HasSubstr("Cancel")));
    EXPECT_EQ(box->buttonRole(box->buttons()[0]) == QMessageBox::DestructiveRole ||
            box->buttonRole(box->buttons()[1]) == QMessageBox::DestructiveRole ||
            box->buttonRole(box->buttons()[2]) == QMessageBox::DestructiveRole,
        true);
    screenshot(*box, "delete-confirmation");
    box->button(QMessageBox::Cancel)->click();
    settle();
    EXPECT_THAT(names(), ElementsAre("Work", "Home", "Spare"));

    // Keep the data: the profile and its app go, its folder stays, the next profile is selected.
    detail().deleteButton()->click();
    for (QAbstractButton* button : detail().deleteConfirmation()->buttons()) {
        if (button->text() == "Delete Profile, Keep Data")
            button->click();
    }
    settle();
    EXPECT_THAT(names(), ElementsAre("Home", "Spare"));
    EXPECT_TRUE(std::filesystem::exists(paths.dataDir(work.id)));
    EXPECT_FALSE(std::filesystem::exists(paths.appURL(work)));
    EXPECT_EQ(model->selection(), home.id);
    EXPECT_EQ(detail().profileID(), home.id);

    // Move the data to the Trash.
    detail().deleteButton()->click();
    for (QAbstractButton* button : detail().deleteConfirmation()->buttons()) {
        if (button->text() == "Delete Profile and Move Data to Trash")
            button->click();
    }
    settle();
    EXPECT_THAT(names(), ElementsAre("Spare"));
    EXPECT_THAT(fake.trash.trashed, ElementsAre(paths.profileDir(home.id)));
    (void)view;
}

TEST_F(ManagementWindowTest, ErrorsShowInAnAlertThatClearsThemWhenDismissed)
{
    storeProfiles({makeProfile("Work")});
    ContentView& view = openWindow();
    model->setErrorMessage("Couldn’t open Claude Work: the disk is full.");
    QMessageBox* alert = view.errorAlert();
    ASSERT_TRUE(alert);
    ASSERT_TRUE(eventually([alert] { return alert->isVisible(); }));
    EXPECT_EQ(alert->text(), "Something went wrong");
    EXPECT_EQ(alert->informativeText(), "Couldn’t open Claude Work: the disk is full.");
    ASSERT_EQ(alert->buttons().size(), 1);
    EXPECT_EQ(alert->buttons()[0]->text(), "OK");
    screenshot(*alert, "error-alert");

    model->setErrorMessage("A newer failure.");
    EXPECT_EQ(view.errorAlert(), alert) << "one alert, showing the latest message";
    EXPECT_EQ(alert->informativeText(), "A newer failure.");
    alert->buttons()[0]->click();
    EXPECT_FALSE(model->errorMessage());
    EXPECT_TRUE(eventually([&view] { return view.errorAlert() == nullptr; }));
}

TEST_F(ManagementWindowTest, DraggingRowsReordersTheProfiles)
{
    storeProfiles({makeProfile("First"), makeProfile("Second"), makeProfile("Third")});
    ContentView& view = openWindow();
    QListWidget& list = *view.sidebar()->list();
    list.setCurrentRow(0);
    // Dropped on the lower half of the last row: the first profile goes to the end.
    const QRect last = list.visualItemRect(list.item(2));
    view.sidebar()->dropRows(QPoint(last.center().x(), last.bottom() - 2));
    ASSERT_TRUE(eventually([this] { return names()[0] != "First"; }));
    EXPECT_THAT(names(), ElementsAre("Second", "Third", "First"));
    EXPECT_EQ(ProfileStore(paths.profilesFile()).load().back().name, "First") << "the order is saved";
    ASSERT_EQ(list.count(), 3);
    EXPECT_EQ(view.sidebar()->row(2)->name(), "First");
    EXPECT_EQ(model->selection(), model->profiles()[2].id) << "the moved profile stays selected";

    // Onto the upper half of the first row: before it.
    list.setCurrentRow(1);
    const QRect first = list.visualItemRect(list.item(0));
    view.sidebar()->dropRows(QPoint(first.center().x(), first.top() + 2));
    EXPECT_THAT(names(), ElementsAre("Third", "Second", "First"));
}

TEST_F(ManagementWindowTest, RowMenusOfferWhatFitsTheAppsState)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    buildApp(work);
    ContentView& view = openWindow();
    const auto texts = [](QMenu& menu) {
        std::vector<std::string> list;
        for (QAction* action : menu.actions())
            list.push_back(action->isSeparator() ? "----" : action->text().toStdString());
        return list;
    };
    std::unique_ptr<QMenu> stopped(view.sidebar()->makeContextMenu(work, nullptr));
    EXPECT_THAT(texts(*stopped), ElementsAre("Open", "----", "Show App in Finder", "Open Claude Code in Terminal"));
    stopped->actions()[2]->trigger();
    EXPECT_THAT(fake.fileViewer.revealed, ElementsAre(paths.appURL(work)));
    stopped->actions()[3]->trigger();
    ASSERT_EQ(fake.terminal.opened.size(), 1u);
    EXPECT_EQ(fake.terminal.opened[0].parent_path(), paths.profileDir(work.id));
    stopped->actions()[0]->trigger();
    settle();
    EXPECT_THAT(fake.workspace.openedApplications, ElementsAre(paths.appURL(work)));

    const auto app = launchApp(work);
    std::unique_ptr<QMenu> running(view.sidebar()->makeContextMenu(work, nullptr));
    EXPECT_THAT(texts(*running),
        ElementsAre("Switch To", "Quit", "----", "Show App in Finder", "Open Claude Code in Terminal"));
    running->actions()[1]->trigger();
    EXPECT_EQ(app->terminateRequests, 1);
}

TEST_F(ManagementWindowTest, ReturnOpensTheSelectedProfileAndTheAppSectionActs)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    buildApp(work);
    ContentView& view = openWindow();
    EXPECT_EQ(detail().locationButton()->toolTip(), "~/Applications/Claude Profiles/Claude Work.app");
    QPushButton& location = *detail().locationButton();
    EXPECT_TRUE(location.isVisible());
    EXPECT_GE(location.width(), 200);
    EXPECT_TRUE(location.text().endsWith("Work.app")) << location.text().toStdString();
    // The path is drawn: the link colour shows up in the button.
    const QImage drawn = location.grab().toImage();
    const QRgb link = location.palette().color(QPalette::Link).rgb();
    bool linkColoured = false;
    for (int y = 0; y < drawn.height() && !linkColoured; ++y) {
        for (int x = 0; x < drawn.width() && !linkColoured; ++x)
            linkColoured = drawn.pixel(x, y) == link;
    }
    EXPECT_TRUE(linkColoured);
    view.sidebar()->list()->setFocus();
    QTest::keyClick(view.sidebar()->list(), Qt::Key_Return);
    settle();
    EXPECT_THAT(fake.workspace.openedApplications, ElementsAre(paths.appURL(work)));

    detail().locationButton()->click();
    detail().showDataButton()->click();
    EXPECT_THAT(fake.fileViewer.revealed, ElementsAre(paths.appURL(work), paths.dataDir(work.id)));
    EXPECT_TRUE(std::filesystem::is_directory(paths.dataDir(work.id)));
    detail().copyExportButton()->click();
    EXPECT_THAT(fake.pasteboard.text, ::testing::HasSubstr("CLAUDE_CONFIG_DIR="));
    screenshot(view, "window-detail");
}

} // namespace
} // namespace korvel::test
