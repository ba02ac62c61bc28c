// The interface on a desktop with a real tray, over a model on the fake platform: the management window
// (sidebar, detail, empty state, alerts, reordering), the new-profile sheet, the welcome, the settings window, the
// application object with its tray item, and the offer to move Korvel into an Applications folder.

#include "app/ui/BadgePixmap.hpp"
#include "app/ui/ColorPalette.hpp"
#include "app/ui/CommandIcon.hpp"
#include "app/ui/ContentView.hpp"
#include "app/ui/ElidedLabel.hpp"
#include "app/ui/EmptyStateView.hpp"
#include "app/ui/KorvelApp.hpp"
#include "app/ui/MenuBarContent.hpp"
#include "app/ui/MenuBarItem.hpp"
#include "app/ui/NameAndColor.hpp"
#include "app/ui/OptionCard.hpp"
#include "app/ui/ProfileBadge.hpp"
#include "app/ui/ProfileDetailView.hpp"
#include "app/ui/SettingsView.hpp"
#include "app/ui/Sidebar.hpp"
#include "app/ui/SidebarRow.hpp"
#include "app/ui/StatusDot.hpp"
#include "app/ui/SwitcherWindow.hpp"
#include "core/building/IconRenderer.hpp"
#include "core/transfer/DataImporter.hpp"
#include "tests/app/support/Await.hpp"
#include "tests/app/support/ModelSandbox.hpp"
#include "tests/support/DrawingCacheCleanup.hpp"
#include "tests/support/StandInClaude.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTextDocumentFragment>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QtTest/QTest>
#include <gmock/gmock.h>

#include <cstdlib>

namespace korvel::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

// The tests run on the private X desktop of scripts/virtual-desktop (ctest starts them through it): Xvfb, openbox
// and trayer, so that windows, focus and the tray icon are real. The application object lives for the whole program.
class UiEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        ASSERT_TRUE(std::getenv("DISPLAY")) << "no X display: run the tests through scripts/virtual-desktop";
        // Qt wants a private runtime folder (a fresh temporary folder is 0700); the user's may not exist here.
        m_runtime = std::make_unique<TempDir>();
        ::setenv("XDG_RUNTIME_DIR", m_runtime->path().c_str(), 1);
        // No session bus, and none started on demand through the X server either: Qt then speaks the X11 tray
        // protocol that trayer implements.
        ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (*m_runtime / "no-bus").string()).c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        static int argc = 1;
        static char name[] = "korvel-ui-tests";
        static char* argv[] = {name, nullptr};
        m_application = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        // trayer claims the tray selection a moment after it starts.
        for (int tries = 0; !QSystemTrayIcon::isSystemTrayAvailable() && tries < 300; ++tries) {
            QApplication::processEvents();
            QThread::msleep(50);
        }
        ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable()) << "the desktop has no tray";
    }

    void TearDown() override
    {
        m_application.reset();
        m_runtime.reset();
        m_caches.TearDown(); // the fonts Qt and the badges loaded
    }

private:
    std::unique_ptr<TempDir> m_runtime;
    std::unique_ptr<QApplication> m_application;
    DrawingCacheCleanup m_caches;
};
[[maybe_unused]] const auto* const environment = ::testing::AddGlobalTestEnvironment(new UiEnvironment);

// Menu items or buttons as text: "----" for a separator, " (off)" after a disabled one.
template<typename T>
std::vector<std::string> texts(const QList<T*>& items)
{
    std::vector<std::string> list;
    for (const T* item : items)
        list.push_back(
            item->text().isEmpty() ? "----" : item->text().toStdString() + (item->isEnabled() ? "" : " (off)"));
    return list;
}

// Shows `window`, waits until the desktop has drawn it, and gives it the focus.
void showAndWait(QWidget& window)
{
    window.show();
    window.raise();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::processEvents();
}

// Saves what `widget` shows as <build>/screenshots/<name>.png, for a person to look at.
// Runs at a scale factor of 2 (QT_SCALE_FACTOR) save theirs as <name>-scale2.png.
fs::path screenshotPath(const std::string& name)
{
    const fs::path folder = fs::path(KORVEL_BINARY_DIR) / "screenshots";
    fs::create_directories(folder);
    const bool doubled = qApp->devicePixelRatio() > 1.5;
    return folder / (name + (doubled ? "-scale2" : "") + ".png");
}

void screenshot(QWidget& widget, const std::string& name)
{
    QApplication::processEvents();
    EXPECT_TRUE(widget.grab().save(QString::fromStdString(screenshotPath(name).string())));
}

// A sheet or alert as a Linux dialog: modal to `owner`'s window, with a title bar that offers no minimise or maximise
// (and a close button only when `closable`).
void expectDialogOf(QWidget& owner, const QWidget& dialog, bool closable = true)
{
    const Qt::WindowFlags flags = dialog.windowFlags();
    EXPECT_EQ(dialog.windowType(), Qt::Dialog);
    EXPECT_EQ(dialog.windowModality(), Qt::WindowModal);
    EXPECT_EQ(dialog.parentWidget() ? dialog.parentWidget()->window() : nullptr, owner.window());
    EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint) && flags.testFlag(Qt::WindowTitleHint))
        << "only the title bar parts asked for";
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint) || flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(flags.testFlag(Qt::WindowCloseButtonHint), closable);
}

// How many lines the alert's informative text takes.
int informativeLines(const QMessageBox& box)
{
    const auto* label = box.findChild<QLabel*>("qt_msgbox_informativelabel");
    if (!label)
        return 0;
    const QRect wrapped = label->fontMetrics().boundingRect(
        QRect(0, 0, label->contentsRect().width(), 10000), Qt::TextWordWrap, label->text());
    return wrapped.height() / label->fontMetrics().lineSpacing();
}

// Saves the whole virtual desktop as <build>/screenshots/<name>.png: windows with the window manager's frames.
void desktopScreenshot(const std::string& name)
{
    QApplication::processEvents();
    QThread::msleep(100); // the window manager draws its frames in its own time
    QApplication::processEvents();
    EXPECT_TRUE(
        QApplication::primaryScreen()->grabWindow(0).save(QString::fromStdString(screenshotPath(name).string())));
}

// Stand-ins for the signing and registration tools; signing waits until the gate is gone, so that a build is
// certainly still running while the window is looked at (the pool cannot be blocked: Qt paints with it).
struct BuildGate
{
    explicit BuildGate(const fs::path& folder)
        : open(folder / "open")
        , tools("KORVEL_TOOLS_DIR", folder.string())
    {
        for (const char* name : {"codesign", "xattr", "lsregister"})
            writeExecutable(folder / name, "#!/bin/sh\nwhile [ ! -e '" + open.string() + "' ]; do sleep 0.02; done\n");
    }
    ~BuildGate() { writeText(open, ""); }
    fs::path open;
    ScopedEnvironment tools;
};

// The model's sandbox (fake desktop services, real files, a stand-in Claude Desktop) with the interface on top:
// the management window over the sandbox's model, or the whole application object with a model of its own.
class UiSandbox : public ModelSandbox
{
protected:
    ~UiSandbox() override
    {
        window.reset();
        settle();
        stopApp();
    }

    // The whole application on the sandbox; start() it as main() does.
    KorvelApp& makeApp()
    {
        MoveToApplications::System staysPut;
        staysPut.bundle = ownBundle;
        app = std::make_unique<KorvelApp>(paths, fake.platform(), launcher, staysPut);
        return *app;
    }
    KorvelApp& startApp(bool tray = true)
    {
        makeApp().start(tray);
        return *app;
    }
    // Runs the event loop until nothing is building, importing or syncing in the application's model.
    void settleApp()
    {
        ASSERT_TRUE(app);
        const auto idle = [this] {
            return app->model().busy().empty() && !app->model().isSyncingSessions() &&
                QThreadPool::globalInstance()->activeThreadCount() == 0;
        };
        for (int round = 0; round < 3; ++round) {
            ASSERT_TRUE(waitUntil(idle)) << "the application's model did not settle";
            spin(30ms); // tasks that were queued start now
        }
        ASSERT_TRUE(waitUntil(idle));
    }
    void stopApp()
    {
        if (!app)
            return;
        settleApp();
        app.reset();
        waitForBackgroundJobs();
        QCoreApplication::sendPostedEvents();
    }
    // The management window over the sandbox's model (started when needed), shown and focused.
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
        if (!window->profileDetail())
            throw std::runtime_error("no profile is shown");
        return *window->profileDetail();
    }
    // The detail's shown buttons at a glance.
    std::string buttons()
    {
        std::string line;
        for (QPushButton* button :
            {detail().openButton(), detail().quitButton(), detail().rebuildButton(), detail().deleteButton()}) {
            if (button->isVisible())
                line += (line.empty() ? "" : ", ") + texts(QList<QPushButton*> {button})[0];
        }
        return line;
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

    // Profiles with apps, as an earlier run of Korvel left them, and the window over them.
    void openWith(const std::vector<Profile>& profiles)
    {
        storeProfiles(profiles);
        for (const Profile& profile : profiles)
            buildApp(profile);
        openWindow();
    }

    NewProfileSheet& newProfileSheet()
    {
        model->setShowNewProfile(true);
        EXPECT_TRUE(waitUntil([this] { return window->newProfileSheet() && window->newProfileSheet()->isVisible(); }));
        return *window->newProfileSheet();
    }

    WelcomeView& welcome()
    {
        openWindow();
        EXPECT_TRUE(waitUntil([this] { return window->welcomeView() && window->welcomeView()->isVisible(); }));
        return *window->welcomeView();
    }

    void createdIs(const std::string& name, ProfileColor color)
    {
        settle();
        ASSERT_FALSE(model->profiles().empty());
        EXPECT_EQ(model->profiles().back().name, name);
        EXPECT_EQ(model->profiles().back().color, color);
        EXPECT_TRUE(waitUntil([this] { return !window->newProfileSheet() && !window->welcomeView(); }));
    }

    std::unique_ptr<KorvelApp> app;
    std::unique_ptr<ContentView> window;
};
using ManagementWindowTest = UiSandbox;
using TrayTest = UiSandbox;

TEST_F(ManagementWindowTest, WithoutProfilesTheWindowInvitesToCreateOne)
{
    fake.userDefaults.setBool(AppModel::didCompleteWelcomeKey, true);
    ContentView& view = openWindow();
    EXPECT_EQ(view.windowTitle(), "Korvel");
    EXPECT_EQ(view.size(), ContentView::defaultSize);
    EXPECT_EQ(view.emptyState()->title(), "No profiles yet");
    EXPECT_EQ(view.emptyState()->text(),
        "Each profile is its own Claude app with its own login,\ntask bar icon and chat history.");
    EXPECT_THAT(texts(QList<QAction*> {view.openAllButton()}), ElementsAre("Open All (off)"));
    EXPECT_EQ(view.openAllButton()->toolTip(), "Open every profile");
    EXPECT_EQ(view.newProfileButton()->toolTip(), "Create a profile for another Claude account");
    screenshot(view, "window-empty");
    view.emptyState()->createButton()->click();
    EXPECT_TRUE(waitUntil([&view] { return view.newProfileSheet() && view.newProfileSheet()->isVisible(); }));
}

TEST_F(ManagementWindowTest, SidebarSubtitlesFollowTheFirstRuleThatApplies)
{
    const std::vector<Profile> profiles = {makeProfile("Ready", ProfileColor::Green), makeProfile("Fresh"),
        makeProfile("Running", ProfileColor::Pink), makeProfile("Active", ProfileColor::Purple)};
    storeProfiles(profiles);
    for (const int built : {0, 2, 3})
        buildApp(profiles[built]);
    fake.userDefaults.setBool(AppModel::autoUpdateKey, false);
    Sidebar& sidebar = *openWindow().sidebar();
    launchApp(profiles[2]);
    fake.workspace.bringToFront(launchApp(profiles[3]));
    EXPECT_THAT(subtitles(), ElementsAre("Not running", "Needs setup", "Running", "Active"));
    EXPECT_EQ(sidebar.row(0)->accessibleText(), "Ready, Not running");
    EXPECT_EQ(sidebar.row(2)->statusDot()->accessibleName(), "Running");
    EXPECT_FALSE(sidebar.showsMissingClaudeWarning());
    screenshot(*window, "window-sidebar");
    setClaudeVersion("2.0.0");
    model->refreshStatuses();
    settle();
    EXPECT_THAT(subtitles(), ElementsAre("Update ready", "Needs setup", "Running", "Active"));

    // Claude Desktop gone: a built app stays ready; only a profile without an app has nothing to build from.
    removeClaude();
    const ScopedEnvironment claude("KORVEL_CLAUDE_APP", paths.sourceApp.string());
    model->refreshStatuses();
    settle();
    EXPECT_THAT(subtitles(), ElementsAre("Not running", "Claude not installed", "Running", "Active"));
    EXPECT_TRUE(sidebar.showsMissingClaudeWarning());
    EXPECT_EQ(sidebar.missingClaudeWarning()->text().toStdString(),
        "Claude Desktop isn’t installed. Korvel looked in " + paths.sourceApp.string() + ".");
    EXPECT_EQ(buttons(), "Open (off), Rebuild App (off), Delete Profile…");
    screenshot(*window, "window-claude-missing");
}

TEST_F(ManagementWindowTest, BusyProfilesShowTheirMessageAndASpinnerAndLockTheirButtons)
{
    storeProfiles({makeProfile("Work")});
    openWindow();
    auto gate = std::make_unique<BuildGate>(temp / "tools");
    detail().rebuildButton()->click();
    ASSERT_TRUE(waitUntil([this] { return !model->busy().empty(); }));
    SidebarRow& row = *window->sidebar()->row(0);
    EXPECT_EQ(row.subtitleText(), "Creating app…");
    EXPECT_TRUE(row.showsSpinner() && !row.statusDot()->isVisible());
    EXPECT_TRUE(detail().busyText()->isVisible() && detail().busyText()->fullText() == "Creating app…");
    EXPECT_EQ(buttons(), "Rebuild App (off), Delete Profile… (off)");
    // Coloured text (the red delete button, orange warnings, secondary labels) greys out like any other when off.
    const QPalette desktop = QApplication::palette();
    for (const QWidget* widget : window->findChildren<QWidget*>()) {
        for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
            EXPECT_EQ(widget->palette().color(QPalette::Disabled, role), desktop.color(QPalette::Disabled, role))
                << widget->metaObject()->className() << " " << widget->accessibleName().toStdString();
    }
    EXPECT_NE(detail().deleteButton()->palette().color(QPalette::Active, QPalette::ButtonText),
        desktop.color(QPalette::Active, QPalette::ButtonText))
        << "red while it can be used";
    screenshot(*window, "window-busy");
    gate.reset();
    settle();
    EXPECT_FALSE(row.showsSpinner());
    EXPECT_EQ(buttons(), "Open, Rebuild App, Delete Profile…");
    EXPECT_EQ(detail().statusSummary()->fullText(), "Ready · Claude 1.0.0");
}

TEST_F(ManagementWindowTest, DetailAndRowMenusOfferWhatFitsTheAppsStateAndAct)
{
    const Profile work = makeProfile("Work");
    const Profile home = makeProfile("Home", ProfileColor::Red);
    openWith({work, home});
    ProfileDetailView* shown = &detail();
    QPushButton& location = *detail().locationButton();
    EXPECT_EQ(location.toolTip(), "~/Applications/Claude Profiles/Claude Work.app");
    EXPECT_GE(location.width(), 200);
    EXPECT_TRUE(location.text().endsWith("Work.app")) << location.text().toStdString();
    const QImage drawn = location.grab().toImage();
    bool linkColoured = false;
    for (int i = 0; i < drawn.width() * drawn.height(); ++i)
        linkColoured |=
            drawn.pixel(i % drawn.width(), i / drawn.width()) == location.palette().color(QPalette::Link).rgb();
    EXPECT_TRUE(linkColoured) << "the path is drawn, in the link colour";
    EXPECT_EQ(detail().statusText()->text(), "Not running");
    EXPECT_TRUE(detail().openButton()->toolTip().isEmpty());
    screenshot(*window, "window-detail");

    // Return in the list and the row menu open the app; the app section and the menu reveal and run things.
    std::unique_ptr<QMenu> menu(window->sidebar()->makeContextMenu(work, nullptr));
    EXPECT_THAT(texts(menu->actions()),
        ElementsAre("Open", "----", "Show App in File Manager", "Open Claude Code in Terminal"));
    QTest::keyClick(window->sidebar()->list(), Qt::Key_Return);
    menu->actions()[0]->trigger();
    settle();
    EXPECT_THAT(fake.workspace.openedApplications, ElementsAre(paths.appURL(work), paths.appURL(work)));
    location.click();
    detail().showDataButton()->click();
    menu->actions()[2]->trigger();
    EXPECT_THAT(fake.fileViewer.revealed, ElementsAre(paths.appURL(work), paths.dataDir(work.id), paths.appURL(work)));
    EXPECT_TRUE(fs::is_directory(paths.dataDir(work.id)));
    menu->actions()[3]->trigger();
    ASSERT_EQ(fake.terminal.opened.size(), 1u);
    EXPECT_EQ(fake.terminal.opened[0].parent_path(), paths.profileDir(work.id));
    detail().copyExportButton()->click();
    EXPECT_THAT(fake.pasteboard.text, ::testing::HasSubstr("CLAUDE_CONFIG_DIR="));
    EXPECT_EQ(detail().copyExportButton()->text(), "Copied") << "the button says it copied";
    screenshot(*detail().copyExportButton()->parentWidget(), "copy-export-copied");
    EXPECT_TRUE(waitUntil([this] { return detail().copyExportButton()->text() == "Copy Export Command"; }, 5s));

    const auto app = launchApp(work);
    EXPECT_EQ(&detail(), shown) << "the same profile keeps its view";
    EXPECT_EQ(buttons(), "Open, Quit, Rebuild App (off), Delete Profile…") << "a running app is never rebuilt";
    EXPECT_EQ(detail().openButton()->toolTip(), "Bring Claude Work’s window to the front");
    EXPECT_EQ(detail().statusText()->text(), "Running");
    fake.workspace.bringToFront(app);
    EXPECT_EQ(detail().statusText()->text(), "Running · Active");
    const auto other = launchApp(home);
    EXPECT_EQ(detail().openButton()->text(), "Switch To");
    screenshot(*window, "window-running");
    detail().openButton()->click();
    settle();
    EXPECT_EQ(app->activateRequests, 1) << "Switch To brings the running app forward";
    detail().quitButton()->click();
    EXPECT_EQ(app->terminateRequests, 1);
    menu.reset(window->sidebar()->makeContextMenu(home, nullptr));
    EXPECT_THAT(texts(menu->actions()),
        ElementsAre("Switch To", "Quit", "----", "Show App in File Manager", "Open Claude Code in Terminal"));
    menu->actions()[1]->trigger();
    EXPECT_EQ(other->terminateRequests, 1);
}

TEST_F(ManagementWindowTest, ColoursAreSavedAtOnceAndNamesOnReturnOrLeavingWithBlankNamesRestored)
{
    const Profile work = makeProfile("Work", ProfileColor::Blue);
    openWith({work, makeProfile("Home")});
    launchApp(work); // no rebuild while it runs
    EXPECT_FALSE(waitUntil([this] { return detail().nameField()->hasFocus(); }, 200ms))
        << "the name field is not focused on arrival";
    ColorPalette& palette = *detail().colorPalette();
    EXPECT_EQ(palette.swatch(ProfileColor::Graphite)->toolTip(), "Graphite");
    EXPECT_FALSE(detail().renameNotice()->isVisible());
    QTest::mouseClick(palette.swatch(ProfileColor::Green), Qt::LeftButton);
    EXPECT_EQ(model->profiles()[0].color, ProfileColor::Green) << "no Return needed";
    EXPECT_EQ(detail().badge()->color(), ProfileColor::Green);
    EXPECT_FALSE(palette.swatch(ProfileColor::Blue)->isChecked());
    EXPECT_EQ(window->sidebar()->row(0)->badge()->color(), ProfileColor::Green);
    EXPECT_TRUE(detail().renameNotice()->isVisible()) << "the running app keeps its old colour until it quits";
    screenshot(*window, "window-recoloured");
    const auto saved = fs::last_write_time(paths.profilesFile());
    QTest::mouseClick(palette.swatch(ProfileColor::Green), Qt::LeftButton);
    EXPECT_EQ(fs::last_write_time(paths.profilesFile()), saved) << "the same colour again changes nothing";

    model->setSelection(model->profiles()[1].id);
    QLineEdit& field = *detail().nameField();
    for (const char* blank : {"   ", ""}) {
        field.setText(blank);
        QTest::keyClick(&field, Qt::Key_Return);
        EXPECT_EQ(field.text(), "Home") << "a blank name puts the stored one back";
    }
    field.setText("  Client A ");
    EXPECT_EQ(detail().badge()->letter(), "C") << "the badge previews the edited name";
    EXPECT_THAT(names(), ElementsAre("Work", "Home")) << "nothing is saved while typing";
    QTest::keyClick(&field, Qt::Key_Return);
    EXPECT_THAT(names(), ElementsAre("Work", "Client A"));
    EXPECT_EQ(detail().appName()->fullText(), "Claude Client A");
    EXPECT_TRUE(fake.workspace.openedApplications.empty()) << "Return in the field does not open the app";
    field.setText("Acme");
    model->setSelection(work.id);
    EXPECT_THAT(names(), ElementsAre("Work", "Acme")) << "selecting another profile commits what was typed";
    EXPECT_EQ(detail().nameField()->text(), "Work");
    settle();
}

TEST_F(ManagementWindowTest, SessionsWaitingForARestartShowWhileTheAppRunsAndRestartNowRestartsIt)
{
    EXPECT_EQ(ProfileDetailView::pendingTitle({1, 3}), "1 session and 3 pins ready");
    EXPECT_EQ(ProfileDetailView::pendingTitle({0, 2}), "2 pins ready");
    EXPECT_EQ(ProfileDetailView::pendingTitle({2, 1}), "2 sessions and 1 pin ready");
    EXPECT_EQ(ProfileDetailView::pendingTitle({12, 0}), "12 sessions ready");
    EXPECT_EQ(ProfileDetailView::pendingTitle({1, 2, 1}), "1 session, 2 pins and 1 MCP server ready");
    EXPECT_EQ(ProfileDetailView::pendingTitle({0, 0, 3}), "3 MCP servers ready");
    const Profile work = makeProfile("Work");
    openWith({work});
    EXPECT_FALSE(detail().pendingBanner()->isVisible());
    auto app = launchApp(work);
    // A Claude Code session in Claude Desktop's own data, of an account the profile knows.
    const std::string account = "5F3C6A1E-2B7D-4E8A-9C10-7D2E4B6A8F01";
    writeText(paths.originalDataDir / "claude-code-sessions" / account / "local_one.json", "{}");
    fs::create_directories(paths.dataDir(work.id) / "claude-code-sessions" / account);
    tickSessionSyncTimer();
    settle();
    ASSERT_TRUE(detail().pendingBanner()->isVisible());
    EXPECT_EQ(detail().pendingTitleLabel()->text(), "1 session ready");
    EXPECT_EQ(
        detail().pendingText()->text(), "Brought over from your main Claude app. Restart Claude Work to see them.");
    screenshot(*window, "window-pending");
    EXPECT_EQ(detail().restartButton()->text(), "Restart Now");
    detail().restartButton()->click();
    ASSERT_TRUE(waitUntil([&app] { return app->terminateRequests == 1; }));
    fake.workspace.quit(app);
    settle();
    EXPECT_FALSE(detail().pendingBanner()->isVisible()) << "the banner goes with the pending entry";
}

TEST_F(ManagementWindowTest, DeletingAsksFirstAndKeepsOrTrashesTheData)
{
    const Profile home = makeProfile("Home");
    const Profile work = makeProfile("Work");
    writeText(paths.dataDir(work.id) / "Default/History", std::string(1'234'567, 'h'));
    openWith({work, home});
    detail().deleteButton()->click();
    QMessageBox& box = *detail().deleteConfirmation();
    EXPECT_EQ(box.text(), "Delete “Work”?");
    const QString leaves = "This removes Claude Work. Moving its data to the Trash signs this account out "
                           "and removes its local chat history from this computer.";
    EXPECT_EQ(box.informativeText(), leaves) << "shown at once, before the data is measured";
    ASSERT_TRUE(waitUntil([&box] { return box.informativeText().contains("data folder"); }));
    EXPECT_EQ(box.informativeText(), leaves + " Its data folder holds 1.2\u00a0MB of local data.");
    EXPECT_THAT(texts(box.buttons()),
        ::testing::UnorderedElementsAre(
            "Delete Profile and Move Data to Trash", "Delete Profile, Keep Data", ::testing::HasSubstr("Cancel")));
    for (QAbstractButton* button : box.buttons())
        EXPECT_EQ(box.buttonRole(button) == QMessageBox::DestructiveRole, button->text().contains("Trash"));
    expectDialogOf(*window, box);
    EXPECT_LE(informativeLines(box), 3);
    screenshot(box, "delete-confirmation");
    box.button(QMessageBox::Cancel)->click();
    settle();
    EXPECT_THAT(names(), ElementsAre("Work", "Home"));
    const auto answer = [this](const QString& text) {
        detail().deleteButton()->click();
        for (QAbstractButton* button : detail().deleteConfirmation()->buttons()) {
            if (button->text() == text)
                button->click();
        }
        settle();
    };
    answer("Delete Profile, Keep Data");
    EXPECT_THAT(names(), ElementsAre("Home"));
    EXPECT_TRUE(fake.trash.trashed.empty()) << "the data stays";
    answer("Delete Profile and Move Data to Trash");
    EXPECT_TRUE(model->profiles().empty());
    EXPECT_THAT(fake.trash.trashed, ElementsAre(paths.profileDir(home.id)));
}

TEST_F(ManagementWindowTest, AnImportThatBrokeOffAsksWhetherToImportAgain)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    writeText(DataImporter::interruptedMarker(paths.dataDir(work.id)), "");
    writeText(paths.dataDir(work.id) / "Local State", "part of a copy");
    writeText(paths.originalDataDir / "Local State", "claude's");
    openWindow();
    QMessageBox* alert = window->errorAlert();
    ASSERT_TRUE(alert && waitUntil([alert] { return alert->isVisible(); }));
    EXPECT_THAT(texts(alert->buttons()), ::testing::UnorderedElementsAre("Keep Empty", "Import Again"));
    for (QAbstractButton* button : alert->buttons()) {
        if (button->text() == "Import Again")
            button->click();
    }
    // The copy is under way once the file exists: wait for the import to finish before reading it.
    ASSERT_TRUE(waitUntil(
        [this, &work] { return model->isIdle() && std::filesystem::exists(paths.dataDir(work.id) / "Local State"); }));
    EXPECT_EQ(readText(paths.dataDir(work.id) / "Local State"), "claude's");
    EXPECT_FALSE(model->interruptedImport());
}

TEST_F(ManagementWindowTest, ErrorsShowInAnAlertThatClearsThemWhenDismissed)
{
    storeProfiles({makeProfile("Work")});
    openWindow();
    model->setErrorMessage("Couldn’t open Claude Work: the disk is full.");
    QMessageBox* alert = window->errorAlert();
    ASSERT_TRUE(alert && waitUntil([alert] { return alert->isVisible(); }));
    EXPECT_EQ(alert->text(), "Something went wrong");
    EXPECT_EQ(alert->informativeText(), "Couldn’t open Claude Work: the disk is full.");
    EXPECT_THAT(texts(alert->buttons()), ElementsAre("OK"));
    expectDialogOf(*window, *alert);
    EXPECT_EQ(alert->windowTitle(), "Korvel") << "the title bar does not repeat the alert's title";
    EXPECT_EQ(informativeLines(*alert), 1) << "a short message stays on one line";
    screenshot(*alert, "error-alert");
    desktopScreenshot("error-alert-desktop");
    model->setErrorMessage("A newer failure.");
    EXPECT_EQ(window->errorAlert(), alert) << "one alert, showing the latest message";
    EXPECT_EQ(alert->informativeText(), "A newer failure.");
    alert->buttons()[0]->click();
    EXPECT_FALSE(model->errorMessage());
    EXPECT_TRUE(waitUntil([this] { return window->errorAlert() == nullptr; }));
}

// Widgets of `window` that reach past its left or right edge (a scrolled form may run past the bottom).
std::vector<std::string> widgetsPastTheEdges(QWidget& window)
{
    std::vector<std::string> past;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        if (!widget->isVisible() || widget->isWindow())
            continue;
        const QRect inWindow(widget->mapTo(&window, QPoint(0, 0)), widget->size());
        if (inWindow.left() < 0 || inWindow.right() >= window.width())
            past.push_back(widget->metaObject()->className() + (" " + widget->accessibleName().toStdString()));
    }
    return past;
}

TEST_F(ManagementWindowTest, LongNamesAreCutWithAnEllipsisAndPushNothingOutOfTheWindow)
{
    const std::string longName = "An account whose name goes on and on " + std::string(70, 'x') + " past any width";
    const Profile medium = makeProfile("Twenty-seven letters long!!");
    const Profile longest = makeProfile(longName);
    openWith({medium, longest, makeProfile("日本語"), makeProfile("עבודה")});
    fake.workspace.bringToFront(launchApp(medium));
    fake.workspace.bringToFront(launchApp(longest));
    settle();
    for (const Profile& profile : {medium, longest}) {
        model->setSelection(profile.id);
        settle();
        EXPECT_EQ(window->size(), ContentView::defaultSize);
        EXPECT_THAT(widgetsPastTheEdges(*window), ::testing::IsEmpty()) << profile.name;
        EXPECT_TRUE(detail().openButton()->isVisible() && detail().openButton()->text() == "Switch To");
        EXPECT_GE(detail().openButton()->width(), detail().openButton()->sizeHint().width());
        EXPECT_TRUE(detail().colorPalette()->isVisible());
        QPushButton& remove = *detail().deleteButton();
        EXPECT_EQ(remove.visibleRegion().boundingRect(), remove.rect()) << "the whole form shows, to its last button";
        EXPECT_EQ(detail().nameField()->cursorPosition(), 0) << "a long name shows from its start";
    }
    screenshot(*window, "window-long-name");
    const ElidedLabel& title = *detail().appName();
    EXPECT_TRUE(title.isElided() && title.text().endsWith("…"));
    EXPECT_EQ(title.toolTip().toStdString(), "Claude " + longName);
    SidebarRow& row = *window->sidebar()->row(1);
    EXPECT_EQ(row.name().toStdString(), longName);
    EXPECT_TRUE(row.findChildren<ElidedLabel*>().front()->text().endsWith("…")) << "cut with an ellipsis";
    EXPECT_TRUE(detail().locationButton()->text().contains("…")) << "the location loses its middle";

    detail().deleteButton()->click();
    QMessageBox& confirmation = *detail().deleteConfirmation();
    ASSERT_TRUE(waitUntil([&confirmation] { return confirmation.isVisible(); }));
    EXPECT_TRUE(QApplication::primaryScreen()->availableGeometry().contains(confirmation.frameGeometry()));
    screenshot(confirmation, "delete-confirmation-long-name");
    confirmation.button(QMessageBox::Cancel)->click();

    // Arabic and Hebrew names and their subtitles keep to the right.
    SidebarRow& hebrew = *window->sidebar()->row(3);
    for (ElidedLabel* text : hebrew.findChildren<ElidedLabel*>()) {
        const QImage drawn = text->grab().toImage();
        int leftmost = drawn.width();
        for (int y = 0; y < drawn.height(); ++y)
            for (int x = 0; x < drawn.width(); ++x)
                if (drawn.pixelColor(x, y) != drawn.pixelColor(0, 0))
                    leftmost = std::min(leftmost, x);
        EXPECT_GT(leftmost, drawn.width() / 2) << text->fullText().toStdString();
    }

    // Squeezed to its least, nothing overlaps or leaves the window; maximised, the form keeps a reading width.
    window->resize(100, 100);
    settle();
    EXPECT_EQ(window->size(), ContentView::minimumSize);
    EXPECT_THAT(widgetsPastTheEdges(*window), ::testing::IsEmpty());
    EXPECT_GE(detail().deleteButton()->width(), detail().deleteButton()->sizeHint().width());
    window->showMaximized();
    ASSERT_TRUE(waitUntil([this] { return window->isMaximized() && window->width() > 1200; }));
    settle();
    EXPECT_THAT(widgetsPastTheEdges(*window), ::testing::IsEmpty());
    EXPECT_LE(detail().column()->width(), ProfileDetailView::maximumContentWidth);
    screenshot(*window, "window-maximised");

    // The tray menu cuts a long name instead of growing with it.
    QMenu menu;
    MenuBarContent::fill(menu, MenuBarContent::entries(*model), {}, qApp->devicePixelRatio());
    EXPECT_LE(menu.sizeHint().width(), MenuBarContent::maximumTextWidth + 120);
    EXPECT_TRUE(menu.actions()[2]->toolTip().startsWith(QString::fromStdString(longName))) << "the whole name on hover";
}

// Drags with the desktop's own mouse (xdotool on the virtual desktop) from `from` to `to` in `list`'s viewport, the
// way a hand would: press, a few moves past the drag distance, hold, release. Returns once the button is up.
void dragWithMouse(QListWidget& list, QPoint from, QPoint to)
{
    const QPoint start = list.viewport()->mapToGlobal(from);
    const QPoint end = list.viewport()->mapToGlobal(to);
    const QPoint middle = (start + end) / 2;
    QStringList steps {"mousemove", QString::number(start.x()), QString::number(start.y()), "sleep", "0.2", "mousedown",
        "1", "sleep", "0.2"};
    for (const QPoint& point : {start + QPoint(0, 4), start + QPoint(0, 12), middle, end, end + QPoint(1, 0)})
        steps << "mousemove" << QString::number(point.x()) << QString::number(point.y()) << "sleep"
              << "0.25";
    steps << "mouseup"
          << "1";
    QProcess xdotool;
    xdotool.start("xdotool", steps);
    ASSERT_TRUE(xdotool.waitForStarted()) << "xdotool is missing (scripts/setup installs it)";
    ASSERT_TRUE(waitUntil([&xdotool] { return xdotool.state() == QProcess::NotRunning; }, 20s));
    EXPECT_EQ(xdotool.exitCode(), 0) << xdotool.readAllStandardError().toStdString();
}

TEST_F(ManagementWindowTest, SidebarRowsSelectAndReorderByDragging)
{
    storeProfiles({makeProfile("First"), makeProfile("Second"), makeProfile("Third")});
    Sidebar& sidebar = *openWindow().sidebar();
    QListWidget& list = *sidebar.list();
    model->setSelection(std::nullopt);
    EXPECT_TRUE(!window->profileDetail() && list.selectedItems().isEmpty());
    EXPECT_EQ(window->emptyState()->title(), "Select a profile");
    EXPECT_FALSE(window->emptyState()->createButton()->isVisible());
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, list.visualItemRect(list.item(0)).center());
    EXPECT_EQ(model->selection(), model->profiles()[0].id) << "a click selects the row's profile";

    // A real drag with the desktop's mouse, from the first row onto the lower half of the last: the first profile
    // goes to the end, and while the mouse is held a line shows where it will land.
    bool indicatorSeen = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!indicatorSeen && sidebar.dropIndicator()->isVisible()) {
            indicatorSeen = true;
            screenshot(*window, "sidebar-drag");
        }
    });
    watch.start(20);
    dragWithMouse(list, list.visualItemRect(list.item(0)).center(),
        list.visualItemRect(list.item(2)).bottomLeft() + QPoint(list.width() / 2, -3));
    ASSERT_TRUE(waitUntil([this] { return names()[0] != "First"; }, 20s));
    EXPECT_THAT(names(), ElementsAre("Second", "Third", "First"));
    EXPECT_TRUE(indicatorSeen) << "the drop indicator showed during the drag";
    EXPECT_TRUE(waitUntil([&sidebar] { return !sidebar.dropIndicator()->isVisible(); }));
    for (int index = 0; index < list.count(); ++index)
        ASSERT_TRUE(sidebar.row(index)) << "every row keeps its widget after the drop";
    EXPECT_EQ(sidebar.row(2)->name(), "First");
    EXPECT_EQ(model->selection(), model->profiles()[2].id) << "the moved profile stays selected";
    // An unselected row dragged onto the upper half of the first row: that row goes first, not the selected one.
    dragWithMouse(list, list.visualItemRect(list.item(1)).center(),
        list.visualItemRect(list.item(0)).topLeft() + QPoint(list.width() / 2, 3));
    ASSERT_TRUE(waitUntil([this] { return names()[0] != "Second"; }, 20s));
    EXPECT_THAT(names(), ElementsAre("Third", "Second", "First"));
    EXPECT_EQ(sidebar.row(0)->name(), "Third");
}

// MARK: The desktop's look

// A dark desktop palette, as a dark theme hands it to Qt.
QPalette darkPalette()
{
    QPalette dark(QColor(45, 45, 48), QColor(37, 37, 40));
    dark.setColor(QPalette::Base, QColor(30, 30, 32));
    dark.setColor(QPalette::AlternateBase, QColor(45, 45, 48));
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(role, QColor(230, 230, 230));
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(QPalette::Disabled, role, QColor(120, 120, 120));
    dark.setColor(QPalette::Highlight, QColor(38, 110, 200));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::Link, QColor(110, 170, 255));
    return dark;
}

// How far apart in lightness `label`'s text and the window behind it are, with the text's transparency.
double textContrast(const QLabel& label, const QColor& background)
{
    const QColor text = label.palette().color(QPalette::Active, label.foregroundRole());
    const double shown = background.lightnessF() + (text.lightnessF() - background.lightnessF()) * text.alphaF();
    return std::abs(shown - background.lightnessF());
}

// The WCAG contrast ratio of two opaque colours.
double contrastRatio(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& c) {
        const auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// `text` as drawn over `background`, its transparency blended in.
QColor shownOn(const QColor& text, const QColor& background)
{
    const double a = text.alphaF();
    return QColor::fromRgbF(static_cast<float>(text.redF() * a + background.redF() * (1 - a)),
        static_cast<float>(text.greenF() * a + background.greenF() * (1 - a)),
        static_cast<float>(text.blueF() * a + background.blueF() * (1 - a)));
}

// The window stays open while the desktop switches between light and dark, as a user's theme switch does.
TEST_F(ManagementWindowTest, EveryScreenFollowsTheDesktopPaletteLightOrDarkAsItSwitches)
{
    const QPalette light = QApplication::palette();
    storeProfiles({makeProfile("Work"), makeProfile("Personal", ProfileColor::Orange)});
    openWindow();
    model->setSelection(model->profiles()[0].id);
    settle();
    for (const auto& [look, palette] :
        std::vector<std::pair<std::string, QPalette>> {{"light", light}, {"dark", darkPalette()}}) {
        QApplication::setPalette(palette);
        spin();
        const QColor background = palette.color(QPalette::Window);
        QListWidget& list = *window->sidebar()->list();
        for (const QLabel* label : window->findChildren<QLabel*>()) {
            if (!label->isVisible() || label->text().isEmpty() || list.isAncestorOf(label))
                continue;
            EXPECT_GT(textContrast(*label, background), 0.25) << look << ": " << label->text().toStdString();
        }
        // Names and subtitles in the sidebar read at 4.5:1 (WCAG AA), on the selection too.
        for (int index = 0; index < list.count(); ++index) {
            const QColor behind = list.item(index)->isSelected() ? list.palette().color(QPalette::Highlight)
                                                                 : list.palette().color(QPalette::Base);
            for (const ElidedLabel* text : window->sidebar()->row(index)->findChildren<ElidedLabel*>()) {
                const QColor ink = text->palette().color(QPalette::Active, text->foregroundRole());
                EXPECT_GE(contrastRatio(shownOn(ink, behind), behind), 4.5)
                    << look << ": " << text->fullText().toStdString() << (index == 0 ? " (selected)" : "");
            }
        }
        EXPECT_EQ(list.palette().color(QPalette::Base), palette.color(QPalette::Base));
        const double scale = std::getenv("QT_SCALE_FACTOR") ? std::atof(std::getenv("QT_SCALE_FACTOR")) : 1.0;
        EXPECT_EQ(window->grab().size(), window->size() * scale) << "drawn at the screen's own resolution";
        screenshot(*window, look + "-window");
        NewProfileSheet& sheet = newProfileSheet();
        screenshot(sheet, look + "-new-profile-sheet");
        model->setShowNewProfile(false);
        ASSERT_TRUE(waitUntil([this] { return !window->newProfileSheet(); }));
        model->setSelection(std::nullopt);
        settle();
        screenshot(*window, look + "-window-no-selection");
        model->setShowWelcome(true);
        ASSERT_TRUE(waitUntil([this] { return window->welcomeView() && window->welcomeView()->isVisible(); }));
        screenshot(*window->welcomeView(), look + "-welcome");
        model->setShowWelcome(false);
        ASSERT_TRUE(waitUntil([this] { return !window->welcomeView(); }));
        {
            SettingsView settings(*model);
            showAndWait(settings);
            screenshot(settings, look + "-settings");
        }
        QMenu menu;
        MenuBarContent::fill(menu, MenuBarContent::entries(*model), {}, qApp->devicePixelRatio());
        menu.popup(QPoint(900, 40));
        ASSERT_TRUE(waitUntil([&menu] { return menu.isVisible(); }));
        screenshot(menu, look + "-tray-menu");
        menu.hide();
        model->setSelection(model->profiles()[0].id);
        settle();
    }
    QApplication::setPalette(light);
}

// Toolbar and menu icons are the icon theme's where it has them, ours where it does not.
TEST(CommandIconTest, TheIconThemesIconsComeFirstWithOurDrawingsAsFallback)
{
    TempDir icons;
    const fs::path theme = icons.path() / "korvel-test";
    fs::create_directories(theme / "16x16" / "actions");
    writeText(theme / "index.theme",
        "[Icon Theme]\nName=korvel-test\nDirectories=16x16/actions\n\n[16x16/actions]\nSize=16\nType=Fixed\n");
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::red);
    for (const char* name : {"list-add", "window-new"})
        ASSERT_TRUE(
            image.save(QString::fromStdString((theme / "16x16" / "actions" / (name + std::string(".png"))).string())));
    const QStringList searchPaths = QIcon::themeSearchPaths();
    const QString themeName = QIcon::themeName();
    QIcon::setThemeSearchPaths({QString::fromStdString(icons.path().string())});
    QIcon::setThemeName("korvel-test");

    const QIcon themed = CommandIcon::icon(CommandIcon::Command::NewProfile, Qt::black);
    EXPECT_EQ(themed.name(), "list-add");
    EXPECT_EQ(themed.pixmap(16).toImage().pixelColor(8, 8), QColor(Qt::red));
    const QIcon ours = CommandIcon::icon(CommandIcon::Command::OpenAll, Qt::black);
    EXPECT_TRUE(ours.name().isEmpty() && !ours.isNull()) << "our stack of windows, not the theme's new window";
    EXPECT_TRUE(CommandIcon::icon(CommandIcon::Command::Quit, Qt::black).isNull()) << "no icon rather than a blank";

    QIcon::setThemeSearchPaths(searchPaths);
    QIcon::setThemeName(themeName);
}

// MARK: The new-profile sheet and the welcome

TEST_F(ManagementWindowTest, SuggestionsSkipTakenNamesAndColours)
{
    const auto named = [](std::initializer_list<const char*> names) {
        std::vector<Profile> profiles;
        for (const char* name : names)
            profiles.push_back(makeProfile(name));
        return profiles;
    };
    // The sheet's own test sees the suggestion skip taken names in any case and stand in for a blank name.
    EXPECT_EQ(NewProfileSheet::suggestedName({}), "Work");
    EXPECT_EQ(NewProfileSheet::suggestedName(
                  named({"Work", "PERSONAL", "client", "side project", "TEAM", "research", "Extra"})),
        "Profile 8");

    std::vector<Profile> everyColour;
    for (const ProfileColor color : ProfileColor::allCases())
        everyColour.push_back(makeProfile("X", color));
    EXPECT_EQ(Profile::firstUnusedColor(everyColour), ProfileColor::Blue) << "every colour in use";
}

TEST_F(ManagementWindowTest, NewProfileSheetPreviewsCancelsAndCreatesWithTheSuggestionForABlankName)
{
    storeProfiles({makeProfile("work", ProfileColor::Orange), makeProfile("Personal", ProfileColor::Red)});
    openWindow();
    NewProfileSheet& sheet = newProfileSheet();
    EXPECT_EQ(sheet.nameField()->placeholderText(), "Client");
    EXPECT_EQ(sheet.colorPalette()->selection(), ProfileColor::Pink) << "the first colour no profile uses";
    EXPECT_EQ(sheet.badge()->letter(), "C") << "the badge shows the suggestion while the name is empty";
    EXPECT_EQ(sheet.explanation()->text(),
        "Creates “Claude Client” in ~/Applications/Claude Profiles and opens it. "
        "Sign in there with the account you want.");
    expectDialogOf(*window, sheet);
    screenshot(sheet, "new-profile-sheet");
    QTest::keyClicks(sheet.nameField(), "  Team Alpha ");
    EXPECT_EQ(sheet.badge()->letter(), "T");
    EXPECT_TRUE(sheet.explanation()->text().startsWith("Creates “Claude Team Alpha” in ~/"));
    QTest::keyClick(sheet.nameField(), Qt::Key_Escape);
    EXPECT_FALSE(model->showNewProfile());
    EXPECT_EQ(model->profiles().size(), 2u) << "Escape cancels";

    NewProfileSheet& again = newProfileSheet();
    EXPECT_TRUE(again.nameField()->text().isEmpty()) << "a fresh sheet each time";
    QTest::keyClicks(again.nameField(), "   ");
    QTest::mouseClick(again.colorPalette()->swatch(ProfileColor::Teal), Qt::LeftButton);
    EXPECT_EQ(again.badge()->color(), ProfileColor::Teal);
    QTest::keyClick(again.nameField(), Qt::Key_Return); // the sheet's default button
    EXPECT_FALSE(model->showNewProfile()) << "the sheet closes before the work starts";
    createdIs("Client", ProfileColor::Teal);
}

TEST_F(ManagementWindowTest, WelcomeWithoutClaudeDesktopPointsToTheDownloadAndOnlyNotNowClosesIt)
{
    removeClaude();
    const ScopedEnvironment claude("KORVEL_CLAUDE_APP", paths.sourceApp.string());
    WelcomeView& sheet = welcome();
    EXPECT_TRUE(sheet.installNotice()->isVisible());
    EXPECT_EQ(QTextDocumentFragment::fromHtml(sheet.installNotice()->text()).toPlainText().toStdString(),
        "Install Claude Desktop first (https://claude.ai/download), then reopen this app. Korvel looks in " +
            paths.sourceApp.string() + ".");
    EXPECT_TRUE(sheet.installNotice()->text().contains(R"(<a href="https://claude.ai/download">)"));
    EXPECT_TRUE(sheet.installNotice()->openExternalLinks()) << "the download address is a link";
    EXPECT_FALSE(sheet.choices()->isVisible() || sheet.primaryButton()->isEnabled());
    screenshot(sheet, "welcome-without-claude");
    expectDialogOf(*window, sheet);
    EXPECT_TRUE(QApplication::primaryScreen()->availableGeometry().contains(sheet.frameGeometry()));
    QTest::keyClick(&sheet, Qt::Key_Escape);
    spin();
    EXPECT_TRUE(sheet.isVisible()) << "Escape does not dismiss the welcome";
    EXPECT_TRUE(model->showWelcome());

    sheet.close(); // the title bar's close button, or Alt+F4
    EXPECT_TRUE(model->didCompleteWelcome()) << "closing the window is Not Now";
    EXPECT_TRUE(waitUntil([this] { return window->welcomeView() == nullptr; }));
    EXPECT_TRUE(model->profiles().empty());
}

TEST_F(ManagementWindowTest, WelcomeWithoutDataOffersOnlyANewAccountCalledWorkWhenLeftBlank)
{
    WelcomeView& sheet = welcome();
    EXPECT_FALSE(sheet.installNotice()->isVisible() || sheet.importCard()->isVisible());
    EXPECT_TRUE(sheet.newAccountCard()->isSelected());
    EXPECT_EQ(sheet.newAccountCard()->title(), "Add another account");
    EXPECT_EQ(sheet.newAccountCard()->badge(), "Recommended");
    EXPECT_EQ(
        sheet.newAccountCard()->detail(), "Creates a new, empty profile where you sign in with your Claude account.");
    EXPECT_EQ(sheet.primaryButton()->text(), "Create Profile");
    EXPECT_EQ(sheet.notNowButton()->toolTip(), "Close this window. You can create profiles any time with Ctrl+N.");
    NameAndColor& fields = *sheet.newAccountFields();
    EXPECT_EQ(fields.nameField()->placeholderText(), "Work");
    EXPECT_EQ(fields.color(), ProfileColor::Blue);
    EXPECT_EQ(fields.badge()->letter(), "W") << "the placeholder's letter while the name is empty";
    fields.nameField()->setText(" ");
    EXPECT_EQ(fields.badge()->letter(), "?") << "a blank name has no letter";
    QTest::mouseClick(fields.palette()->swatch(ProfileColor::Purple), Qt::LeftButton);
    EXPECT_EQ(fields.badge()->color(), ProfileColor::Purple);
    sheet.primaryButton()->click();
    createdIs("Work", ProfileColor::Purple);
    EXPECT_FALSE(fs::exists(paths.dataDir(model->profiles()[0].id) / "Local State")) << "nothing copied";
}

TEST_F(ManagementWindowTest, ImportWaitsUntilClaudeHasQuitThenCopiesTheData)
{
    writeText(paths.originalDataDir / "Local State", "{}");
    const auto claude = fake.workspace.launch(std::string(StandInClaude::bundleIdentifier));
    WelcomeView& sheet = welcome();
    ASSERT_TRUE(sheet.importCard()->isVisible());
    EXPECT_EQ(sheet.newAccountCard()->detail(),
        "Keep using Claude as you do now for the account it’s signed into. This creates a new, empty profile where "
        "you sign in with a different account.");
    EXPECT_EQ(sheet.importCard()->title(), "Move my current Claude into a profile");
    EXPECT_FALSE(sheet.importCard()->badge() || sheet.quitClaudeRow()->isVisible()) << "no badge; no controls yet";
    EXPECT_TRUE(sheet.primaryButton()->isEnabled()) << "a new account needs no quitting";

    QTest::mouseClick(sheet.importCard(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    EXPECT_EQ(sheet.start(), WelcomeView::Start::ImportCurrent);
    EXPECT_EQ(sheet.primaryButton()->accessibleName(), "Import & Create Profile");
    EXPECT_EQ(sheet.primaryButton()->text(), "Import && Create Profile") << "shown with one ampersand, no mnemonic";
    EXPECT_TRUE(sheet.quitClaudeRow()->isVisible() && !sheet.primaryButton()->isEnabled());
    EXPECT_EQ(sheet.importFields()->nameField()->text(), "Personal");
    EXPECT_EQ(sheet.importFields()->color(), ProfileColor::Orange);
    screenshot(sheet, "welcome-import-claude-running");
    sheet.quitClaudeButton()->click();
    EXPECT_EQ(claude->terminateRequests, 1);
    fake.workspace.quit(claude);
    EXPECT_TRUE(sheet.primaryButton()->isEnabled() && !sheet.quitClaudeRow()->isVisible())
        << "enabled again as the running applications change";
    EXPECT_TRUE(waitUntil([&sheet] { return sheet.isActiveWindow(); })) << "the sheet in front of its window";
    desktopScreenshot("welcome-import-claude-quit");

    sheet.importFields()->nameField()->setText("   ");
    QTest::keyClick(&sheet, Qt::Key_Return);
    EXPECT_TRUE(sheet.isWorking());
    EXPECT_FALSE(sheet.notNowButton()->isEnabled() || sheet.primaryButton()->isEnabled());
    createdIs("Personal", ProfileColor::Orange);
    EXPECT_TRUE(fs::exists(paths.dataDir(model->profiles()[0].id) / "Local State")) << "imported";
    EXPECT_TRUE(model->didCompleteWelcome());
}

// The alert of a failed creation shows at once, over the window that stays once the welcome has closed.
TEST_F(ManagementWindowTest, AFailedCreationInTheWelcomeShowsItsAlertAtOnceOverTheWindow)
{
    WelcomeView& sheet = welcome();
    sheet.newAccountFields()->nameField()->setText(QString(300, 'x')); // refused: no app can be named so
    sheet.primaryButton()->click();
    ASSERT_TRUE(waitUntil([this] { return !window->welcomeView(); }));
    spin(300ms);
    QMessageBox* alert = window->errorAlert();
    ASSERT_TRUE(alert && alert->isVisible()) << "the alert went with the welcome";
    expectDialogOf(*window, *alert);
    EXPECT_TRUE(alert->informativeText().contains("is too long")) << alert->informativeText().toStdString();
    desktopScreenshot("welcome-failed-alert");
}

// Without Claude Desktop nothing offers to create a profile, and each place says why.
TEST_F(ManagementWindowTest, WithoutClaudeDesktopCreationIsOffNowhereAndSaysWhereKorvelLooked)
{
    fake.userDefaults.setBool(AppModel::didCompleteWelcomeKey, true);
    removeClaude();
    const ScopedEnvironment claude("KORVEL_CLAUDE_APP", paths.sourceApp.string());
    openWindow();
    const QString why =
        QString::fromStdString("Claude Desktop isn’t installed. Korvel looked in " + paths.sourceApp.string() + ".");
    for (QAction* action : {window->newProfileCommand(), window->newProfileButton()}) {
        EXPECT_FALSE(action->isEnabled()) << action->text().toStdString();
        EXPECT_EQ(action->toolTip(), why);
    }
    QPushButton* create = window->emptyState()->createButton();
    EXPECT_TRUE(create->isVisible() && !create->isEnabled());
    EXPECT_EQ(create->toolTip(), why);
    EXPECT_EQ(window->emptyState()->reason(), why);
    QTest::keyClick(window.get(), Qt::Key_N, Qt::ControlModifier);
    spin();
    EXPECT_FALSE(window->newProfileSheet());
    const auto entries = MenuBarContent::entries(*model);
    const auto newProfile = std::find_if(entries.begin(), entries.end(),
        [](const MenuBarContent::Entry& entry) { return entry.kind == MenuBarContent::Entry::Kind::NewProfile; });
    ASSERT_NE(newProfile, entries.end());
    EXPECT_FALSE(newProfile->enabled);
    screenshot(*window, "window-without-claude");
}

// The highest contrast between a pixel of `before` and the same pixel of `after` inside `area` (1: no change).
double changeContrast(const QImage& before, const QImage& after, const QRect& area)
{
    double most = 1;
    const QRect inside = area.intersected(before.rect()).intersected(after.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            most = std::max(most, contrastRatio(before.pixelColor(x, y), after.pixelColor(x, y)));
    return most;
}

// Tabs once through `window` as a keyboard user does. For each control reached: how plainly the focus shows, the
// highest contrast between what was drawn in and around it before and after Tab brought the focus there.
std::vector<std::pair<QWidget*, double>> tabThrough(QWidget& window)
{
    std::vector<std::pair<QWidget*, double>> stops;
    QWidget* first = nullptr;
    // The window manager activates a window a moment after it is shown; Tab before that goes to the last one.
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window)) << window.metaObject()->className() << " never became active";
    for (int step = 0; step < 40; ++step) {
        const QImage before = window.grab().toImage();
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &window, Qt::Key_Tab);
        spin(60ms);
        QWidget* focused = QApplication::focusWidget();
        if (!focused || focused == first)
            break;
        if (!first)
            first = focused;
        const QRect area = QRect(focused->mapTo(&window, QPoint(0, 0)), focused->size()).adjusted(-6, -6, 6, 6);
        const double scale = window.devicePixelRatioF();
        const QRect pixels(area.topLeft() * scale, area.size() * scale);
        stops.emplace_back(focused, changeContrast(before, window.grab().toImage(), pixels));
    }
    return stops;
}

TEST_F(ManagementWindowTest, ColourSwatchesAreOneTabStopChosenWithArrowKeysAndFocusShowsEverywhere)
{
    writeText(paths.originalDataDir / "Local State", "{}"); // both cards
    WelcomeView& sheet = welcome();
    ColorPalette& colours = *sheet.newAccountFields()->palette();
    ASSERT_EQ(colours.selection(), ProfileColor::Blue);
    int swatchStops = 0;
    const auto stops = tabThrough(sheet);
    for (const auto& [stop, shown] : stops) {
        swatchStops += stop->parentWidget() == &colours;
        // A focus ring in a colour of its own: 3:1 against what was drawn there before, on every colour.
        EXPECT_GE(shown, 3.0) << stop->metaObject()->className() << " " << stop->accessibleName().toStdString();
    }
    EXPECT_GE(stops.size(), 5u) << "card, name, colour, Not Now, Create Profile";
    EXPECT_EQ(swatchStops, 1) << "the chosen colour is the only Tab stop of the palette";

    QSignalSpy chosen(&colours, &ColorPalette::selectionChanged);
    colours.swatch(ProfileColor::Blue)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    EXPECT_EQ(colours.selection(), ProfileColor::Teal);
    EXPECT_EQ(QApplication::focusWidget(), colours.swatch(ProfileColor::Teal)) << "the focus goes along";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    EXPECT_EQ(colours.selection(), ProfileColor::Indigo);
    EXPECT_EQ(sheet.newAccountFields()->badge()->color(), ProfileColor::Indigo);
    EXPECT_EQ(chosen.count(), 3);
    colours.setLayoutDirection(Qt::RightToLeft);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    EXPECT_EQ(colours.selection(), ProfileColor::Blue) << "Left goes on in a right-to-left row";
    colours.setLayoutDirection(Qt::LeftToRight);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_NE(QApplication::focusWidget()->parentWidget(), &colours) << "Tab leaves the palette";
    screenshot(sheet, "welcome-keyboard");
}

TEST_F(ManagementWindowTest, EveryControlOfTheWindowAndTheSettingsShowsTheKeyboardFocus)
{
    fake.userDefaults.setBool(AppModel::didCompleteWelcomeKey, true);
    openWith({makeProfile("Work")});
    SettingsView settings(*model);
    showAndWait(settings);
    for (QWidget* screen : {static_cast<QWidget*>(window.get()), static_cast<QWidget*>(&settings)}) {
        showAndWait(*screen);
        const auto stops = tabThrough(*screen);
        EXPECT_GE(stops.size(), 4u);
        for (const auto& [stop, shown] : stops)
            EXPECT_GE(shown, 3.0) << stop->metaObject()->className() << " " << stop->accessibleName().toStdString();
    }
}

// MARK: Settings

TEST_F(ManagementWindowTest, SettingsShowTheActualStateSpringBackWhenAChangeFailsAndSeeLinksTakenBack)
{
    start();
    SettingsView view(*model);
    showAndWait(view);
    QCheckBox& login = *view.launchAtLoginToggle();
    EXPECT_EQ(login.text(), "Launch at login");
    EXPECT_FALSE(login.isChecked());
    login.click();
    EXPECT_TRUE(fake.loginItem.enabled && login.isChecked());
    fake.loginItem.failure = "the session manager refused";
    login.click();
    EXPECT_TRUE(login.isChecked()) << "still registered, so still on";
    EXPECT_EQ(view.autoUpdateToggle()->text(), "Keep profile apps up to date with Claude");
    view.autoUpdateToggle()->click();
    EXPECT_FALSE(model->autoUpdateProfileApps());
    model->setAutoUpdateProfileApps(true);
    EXPECT_TRUE(view.autoUpdateToggle()->isChecked()) << "follows the model";
    EXPECT_EQ(view.mcpServersToggle()->toolTip(), view.mcpServersFooter()->text());
    EXPECT_TRUE(view.mcpServersFooter()->text().startsWith("MCP servers you add to Claude")) << "explained";
    screenshot(view, "settings");

    EXPECT_EQ(view.profileAppsLocation()->text(), "~/Applications/Claude Profiles");
    EXPECT_EQ(view.profileDataLocation()->text(), QString::fromStdString(paths.supportDir.string()))
        << "outside the home folder: the full path";
    EXPECT_EQ(view.claudeVersion()->text(), "Version 1.0.0");
    removeClaude();
    model->refreshStatuses();
    EXPECT_EQ(view.claudeVersion()->text(), "Not installed");

    QCheckBox& route = *view.routeLinksToggle();
    EXPECT_EQ(route.text(), "Send claude:// links to the active profile");
    EXPECT_FALSE(route.isChecked() || view.linksTakenBackRow()->isVisible());
    route.click();
    settle();
    EXPECT_TRUE(model->routeClaudeLinks() && route.isChecked());

    // Claude claims the scheme again behind Korvel's back; the window notices at the next change.
    fake.linkHandler.handlers["claude"] = paths.sourceApp;
    model->setSelection(std::nullopt);
    EXPECT_FALSE(route.isChecked());
    EXPECT_TRUE(view.linksTakenBackRow()->isVisible());
    EXPECT_EQ(view.turnOnAgainButton()->text(), "Turn On Again");
    screenshot(view, "settings-links-taken-back");
    view.turnOnAgainButton()->click();
    settle();
    EXPECT_EQ(fake.linkHandler.handlers["claude"], ownBundle);
    EXPECT_TRUE(route.isChecked() && !view.linksTakenBackRow()->isVisible());

    // Off again; a refusal to turn it on leaves it off.
    route.click();
    settle();
    fake.linkHandler.refusal = "no handler database";
    route.click();
    settle();
    EXPECT_FALSE(route.isChecked());
}

TEST_F(ManagementWindowTest, TheSwitcherShortcutIsChosenInTheSettingsWhichTellWhyItIsNotInUse)
{
    fake.globalShortcut.failure = "another program holds Ctrl+Alt+K";
    start();
    settle();
    SettingsView view(*model);
    showAndWait(view);
    QKeySequenceEdit& field = *view.switcherShortcutField();
    QLabel& problem = *view.switcherShortcutProblem();
    EXPECT_EQ(field.keySequence(), QKeySequence("Ctrl+Alt+K"));
    EXPECT_EQ(problem.text(), "Couldn’t use this shortcut: another program holds Ctrl+Alt+K");
    EXPECT_TRUE(problem.isVisible());
    screenshot(view, "settings-shortcut-taken");

    fake.globalShortcut.failure.reset();
    field.setFocus();
    QTest::keyClick(&field, Qt::Key_J, Qt::ControlModifier | Qt::AltModifier);
    ASSERT_TRUE(waitUntil([this] { return fake.globalShortcut.bound == "Ctrl+Alt+J"; }, 5s)) << "taken when typed";
    EXPECT_FALSE(problem.isVisible());
    EXPECT_EQ(fake.userDefaults.strings[AppModel::switcherShortcutKey], "Ctrl+Alt+J");
    // A key on its own would be lost to typing in every other app.
    QTest::keyClick(&field, Qt::Key_K);
    ASSERT_TRUE(waitUntil([&problem] { return problem.isVisible(); }, 5s));
    EXPECT_THAT(problem.text().toStdString(), HasSubstr("Choose a combination with Ctrl, Alt or Super."));
    EXPECT_EQ(fake.globalShortcut.bound, "Ctrl+Alt+J");
    EXPECT_EQ(field.keySequence(), QKeySequence("Ctrl+Alt+J"));
    // None: Backspace, as in the desktops' own settings, or the field's clear button.
    QTest::keyClick(&field, Qt::Key_Backspace);
    ASSERT_TRUE(waitUntil([this] { return fake.globalShortcut.bound.empty(); }, 5s));
    EXPECT_FALSE(problem.isVisible());
    EXPECT_TRUE(field.keySequence().isEmpty());
    field.clearFocus(); // the field shows the model's keys again
    model->setSwitcherShortcut("Ctrl+Alt+K");
    EXPECT_EQ(field.keySequence(), QKeySequence("Ctrl+Alt+K"));
    field.findChild<QLineEdit*>()->clear();
    settle();
    EXPECT_EQ(fake.userDefaults.strings[AppModel::switcherShortcutKey], "");
    EXPECT_EQ(fake.globalShortcut.bound, "");

    // Where the desktop offers no global shortcuts, the settings tell the way around it.
    fake.globalShortcut.available = false;
    model->setSwitcherShortcut("Ctrl+Alt+K");
    EXPECT_FALSE(field.isEnabled());
    EXPECT_THAT(view.switcherShortcutFooter()->text().toStdString(), HasSubstr("runs “korvel switcher”"));
    screenshot(view, "settings-no-global-shortcuts");
}

// MARK: The application and its tray item

QAction* actionNamed(QMenu& menu, const QString& text)
{
    for (QAction* action : menu.actions())
        if (action->text() == text)
            return action;
    throw std::runtime_error("no menu item " + text.toStdString());
}

// The widget Qt embeds into the X11 tray for the icon.
QWidget* trayIconWidget()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (qstrcmp(widget->metaObject()->className(), "QSystemTrayIconSys") == 0)
            return widget;
    return nullptr;
}

TEST_F(TrayTest, StartsInTheTrayUnlessThereIsNoTrayOrTheWelcomeIsDue)
{
    fake.userDefaults.setBool(AppModel::didCompleteWelcomeKey, true);
    KorvelApp& korvel = startApp();
    settleApp();
    EXPECT_FALSE(korvel.mainWindow()) << "with a tray and the welcome done, Korvel starts in the tray only";
    QMenu& menu = korvel.menuBarItem()->menu();
    EXPECT_THAT(texts(menu.actions()),
        ElementsAre("No profiles yet (off)", "----", "Open All Profiles (off)", "New Profile…", "Manage Profiles…",
            "Settings…", "----", "Quit Korvel"));
    EXPECT_FALSE(korvel.menuBarItem()->label().profile) << "no active profile: Korvel's own symbol";
    EXPECT_EQ(korvel.menuBarItem()->trayIcon().toolTip(), "Korvel");
    stopApp();

    KorvelApp& withoutTray = startApp(false);
    ASSERT_TRUE(withoutTray.mainWindow() && withoutTray.mainWindow()->isVisible());
    EXPECT_FALSE(withoutTray.menuBarItem()->trayIcon().isVisible());
    stopApp();

    fake.userDefaults.setBool(AppModel::didCompleteWelcomeKey, false);
    KorvelApp& firstStart = startApp();
    ASSERT_TRUE(firstStart.mainWindow() && firstStart.mainWindow()->isVisible());
    EXPECT_TRUE(waitUntil([&firstStart] { return firstStart.mainWindow()->welcomeView() != nullptr; }));
}

TEST_F(TrayTest, MenuShowsTheActiveProfileAndOpensTheApps)
{
    const Profile work = makeProfile("Work", ProfileColor::Teal);
    const Profile personal = makeProfile("Personal", ProfileColor::Orange);
    storeProfiles({work, personal});
    buildApp(work);
    buildApp(personal);
    KorvelApp& korvel = startApp();
    settleApp();
    MenuBarItem& item = *korvel.menuBarItem();
    QMenu& menu = item.menu();
    EXPECT_THAT(texts(menu.actions()),
        ElementsAre("Work", "Personal", "----", "Open All Profiles", "New Profile…", "Manage Profiles…", "Settings…",
            "----", "Quit Korvel"));
    EXPECT_FALSE(actionNamed(menu, "Personal")->icon().isNull()) << "each row carries its badge";

    // Rebuilt when what it shows changes, and only then: no timer, no unrelated announcement.
    const int builds = item.menuBuilds();
    korvel.model().setSelection(std::nullopt);
    korvel.model().setAutoUpdateProfileApps(false);
    spin(1500ms);
    EXPECT_EQ(item.menuBuilds(), builds);
    const auto app = launchApp(work);
    EXPECT_EQ(item.menuBuilds(), builds + 1);
    fake.workspace.bringToFront(app);
    EXPECT_THAT(texts(menu.actions()),
        ElementsAre("Active: Work (off)", "Work — Running", "Personal", "----", "Open All Profiles", "New Profile…",
            "Manage Profiles…", "Settings…", "----", "Quit Korvel"));
    EXPECT_EQ(item.label().profile, work);
    EXPECT_EQ(item.trayIcon().toolTip(), "Active Claude account: Work");

    // The app quits: its row goes back to the bare name; it stays the active profile.
    fake.workspace.quit(app);
    settleApp();
    EXPECT_THAT(texts(menu.actions()), testing::IsSupersetOf({"Active: Work (off)", "Work"}));

    actionNamed(menu, "Personal")->trigger();
    settleApp();
    EXPECT_THAT(fake.workspace.openedApplications, ElementsAre(paths.appURL(personal)));
    actionNamed(menu, "Open All Profiles")->trigger();
    settleApp();
    EXPECT_THAT(fake.workspace.openedApplications,
        ElementsAre(paths.appURL(personal), paths.appURL(work), paths.appURL(personal)));
}

TEST_F(TrayTest, ManyProfilesKeepTheMenuInOneColumnWithTheRestInASubmenu)
{
    std::vector<Profile> profiles;
    for (int index = 1; index <= 30; ++index)
        profiles.push_back(makeProfile("Profile " + std::to_string(index)));
    storeProfiles(profiles);
    KorvelApp& korvel = startApp();
    settleApp();
    QMenu& menu = korvel.menuBarItem()->menu();
    menu.popup(QPoint(1000, 30));
    ASSERT_TRUE(waitUntil([&menu] { return menu.isVisible(); }));
    screenshot(menu, "tray-menu-many");
    std::set<int> columns;
    for (QAction* action : menu.actions())
        columns.insert(menu.actionGeometry(action).left());
    EXPECT_EQ(columns.size(), 1u) << "one column";
    EXPECT_EQ(menu.actions().back()->text(), "Quit Korvel");
    EXPECT_TRUE(QApplication::primaryScreen()->availableGeometry().contains(menu.geometry()));
    const std::vector<std::string> shown = texts(menu.actions());
    EXPECT_EQ(std::count_if(shown.begin(), shown.end(), [](const std::string& t) { return t.starts_with("Profile "); }),
        MenuBarContent::profileRowsPerMenu);
    QAction* more = actionNamed(menu, "More Profiles");
    ASSERT_TRUE(more && more->menu());
    EXPECT_EQ(more->menu()->actions().front()->text(), "Profile 15");
    EXPECT_EQ(more->menu()->actions().back()->text(), "Profile 30");
    more->menu()->actions().back()->trigger();
    settleApp();
    EXPECT_THAT(fake.workspace.openedApplications, ElementsAre(paths.appURL(profiles.back())));
    menu.hide();
}

TEST_F(TrayTest, TheIconSitsInTheDesktopsTrayAndOpensTheMenu)
{
    const Profile work = makeProfile("Work", ProfileColor::Indigo);
    storeProfiles({work});
    KorvelApp& korvel = startApp();
    settleApp();
    fake.workspace.bringToFront(launchApp(work));
    QSystemTrayIcon& tray = korvel.menuBarItem()->trayIcon();
    ASSERT_TRUE(tray.isVisible());
    ASSERT_TRUE(waitUntil([&tray] { return tray.geometry().isValid() && trayIconWidget(); }, 10s))
        << "trayer never embedded the icon";
    EXPECT_TRUE(QApplication::primaryScreen()->geometry().contains(tray.geometry()) && tray.geometry().top() < 40)
        << "on screen, in the tray at the top edge";

    // A right click on the embedded icon shows the menu, as the desktop would.
    QWidget* icon = trayIconWidget();
    QTest::mouseClick(icon, Qt::RightButton, Qt::NoModifier, icon->rect().center());
    QMenu& menu = korvel.menuBarItem()->menu();
    ASSERT_TRUE(waitUntil([&menu] { return menu.isVisible(); }, 10s));
    screenshot(menu, "tray-menu");
    EXPECT_TRUE(QApplication::primaryScreen()->grabWindow(0).save(
        QString(KORVEL_BINARY_DIR) + "/screenshots/tray-desktop.png"));
    menu.hide();

    // A left click shows the menu as well.
    QTest::mouseClick(icon, Qt::LeftButton, Qt::NoModifier, icon->rect().center());
    ASSERT_TRUE(waitUntil([&menu] { return menu.isVisible(); }, 10s));
    menu.hide();
}

TEST_F(TrayTest, ClosingTheWindowKeepsKorvelRunningAndItsCommandsWork)
{
    fake.userDefaults.setBool(AppModel::didCompleteWelcomeKey, true);
    QApplication::setQuitOnLastWindowClosed(true);
    KorvelApp& korvel = startApp();
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed()) << "Korvel lives on in the tray";
    QSignalSpy quit(&korvel, &KorvelApp::quitRequested);
    QMenu& menu = korvel.menuBarItem()->menu();
    actionNamed(menu, "New Profile…")->trigger(); // opens the window, then the sheet
    ContentView* window = korvel.mainWindow();
    ASSERT_TRUE(window && window->isVisible());
    ASSERT_TRUE(waitUntil([window] { return window->newProfileSheet() && window->newProfileSheet()->isVisible(); }));
    window->newProfileSheet()->cancelButton()->click();
    ASSERT_TRUE(waitUntil([window] { return !window->newProfileSheet(); }));
    window->close();
    spin();
    EXPECT_TRUE(!window->isVisible() && korvel.menuBarItem()->trayIcon().isVisible());
    EXPECT_EQ(quit.count(), 0);
    actionNamed(menu, "Manage Profiles…")->trigger();
    EXPECT_TRUE(korvel.mainWindow() == window && window->isVisible()) << "the one window comes back";
    actionNamed(menu, "Quit Korvel")->trigger();
    window->quitCommand()->trigger();
    EXPECT_EQ(quit.count(), 2);

    EXPECT_EQ(window->quitCommand()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(window->openAllCommand()->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    EXPECT_EQ(window->newProfileCommand()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
    window->newProfileCommand()->trigger();
    EXPECT_TRUE(korvel.model().showNewProfile()) << "inside the window it only asks for the sheet";
}

// On a desktop without a tray (stock GNOME) the window is the way in: Settings sits in its menu with Ctrl+,.
TEST_F(TrayTest, SettingsOpenFromTheWindowWithCtrlCommaAndCloseWithEscape)
{
    fake.userDefaults.setBool(AppModel::didCompleteWelcomeKey, true);
    KorvelApp& korvel = startApp(false);
    ContentView* window = korvel.mainWindow();
    ASSERT_TRUE(window && window->isVisible());
    ASSERT_TRUE(waitUntil([window] { return window->isActiveWindow(); }));
    EXPECT_EQ(window->settingsCommand()->text(), "Settings…");
    EXPECT_EQ(window->settingsCommand()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    QTest::keyClick(window, Qt::Key_Comma, Qt::ControlModifier);
    SettingsView* settings = korvel.settingsWindow();
    ASSERT_TRUE(settings && settings->isVisible());
    EXPECT_EQ(settings->windowTitle(), "Korvel Settings");
    ASSERT_TRUE(waitUntil([settings] { return settings->isActiveWindow(); }));
    QTest::keyClick(settings, Qt::Key_Escape);
    EXPECT_TRUE(waitUntil([settings] { return !settings->isVisible(); })) << "Escape closes it";
    EXPECT_TRUE(window->isVisible());
}

TEST_F(TrayTest, LinksReachTheModelOnlyOnceTheDelegateIsConnected)
{
    fake.userDefaults.setBool(AppModel::didCompleteWelcomeKey, true);
    KorvelApp& korvel = makeApp();
    const std::vector<std::string> links = {"claude://claude.ai/new", "claude://claude.ai/chat/1"};
    korvel.delegate().open(links);
    EXPECT_TRUE(fake.workspace.openedURLs.empty()) << "dropped: the model is not connected yet";
    korvel.start(true);
    korvel.delegate().open(links);
    ASSERT_EQ(fake.workspace.openedURLs.size(), 1u);
    EXPECT_EQ(fake.workspace.openedURLs[0].urls, links);
    EXPECT_EQ(fake.workspace.openedURLs[0].application, paths.sourceApp) << "routing is off";
}

// MARK: The profile switcher

// Presses the global shortcut and waits until the switcher has the keyboard.
SwitcherWindow& pressShortcut(FakeGlobalShortcut& shortcut, KorvelApp& korvel)
{
    shortcut.press();
    SwitcherWindow* switcher = korvel.switcherWindow();
    if (!switcher || !QTest::qWaitForWindowActive(switcher))
        throw std::runtime_error("the switcher did not come up with the focus");
    return *switcher;
}

std::vector<std::string> shownNames(const SwitcherWindow& switcher)
{
    std::vector<std::string> names;
    for (int index = 0; index < switcher.list()->count(); ++index)
        names.push_back(switcher.row(index)->name().toStdString());
    return names;
}

TEST_F(TrayTest, TheSwitcherFiltersByNameAndOpensTheChosenProfileFromTheKeyboard)
{
    const Profile work = makeProfile("Work", ProfileColor::Teal);
    const Profile zoe = makeProfile("Zoë", ProfileColor::Orange);
    const Profile home = makeProfile("Home", ProfileColor::Green);
    const Profile zoo = makeProfile("Zoo project", ProfileColor::Purple);
    storeProfiles({work, zoe, home, zoo});
    for (const Profile& profile : {work, zoe, home, zoo})
        buildApp(profile);
    KorvelApp& korvel = startApp();
    settleApp();
    const auto running = launchApp(work);
    fake.workspace.bringToFront(running);

    SwitcherWindow& switcher = pressShortcut(fake.globalShortcut, korvel);
    EXPECT_TRUE(switcher.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_LE(
        (switcher.frameGeometry().center() - switcher.screen()->availableGeometry().center()).manhattanLength(), 2)
        << "centred";
    EXPECT_TRUE(switcher.searchField()->hasFocus());
    EXPECT_THAT(shownNames(switcher), ElementsAre("Work", "Zoë", "Home", "Zoo project")) << "in list order";
    EXPECT_EQ(switcher.row(0)->subtitleText(), "Active");
    EXPECT_EQ(switcher.list()->item(1)->data(Qt::AccessibleTextRole).toString(), "Zoë, Not running");
    const QPalette light = QApplication::palette();
    for (const auto& [look, palette] :
        std::vector<std::pair<std::string, QPalette>> {{"light", light}, {"dark", darkPalette()}}) {
        QApplication::setPalette(palette);
        spin();
        screenshot(switcher, look + "-switcher");
    }
    QApplication::setPalette(light);

    // Any letter case, accents aside; the first match is chosen, Up and Down stay within the list.
    QTest::keyClicks(switcher.searchField(), "ZOE");
    EXPECT_THAT(shownNames(switcher), ElementsAre("Zoë"));
    switcher.searchField()->clear();
    QTest::keyClicks(switcher.searchField(), "zo");
    EXPECT_THAT(shownNames(switcher), ElementsAre("Zoë", "Zoo project"));
    EXPECT_EQ(switcher.list()->currentRow(), 0);
    for (const auto key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Up, Qt::Key_Down})
        QTest::keyClick(switcher.searchField(), key);
    EXPECT_EQ(switcher.list()->currentRow(), 1);
    screenshot(switcher, "switcher-search");
    QTest::keyClick(switcher.searchField(), Qt::Key_Return);
    settleApp();
    EXPECT_THAT(fake.workspace.openedApplications, ElementsAre(paths.appURL(zoo)));
    // It stays until the opened app takes the focus (none does here), for a while at most.
    EXPECT_TRUE(switcher.isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !switcher.isVisible(); }, 2 * SwitcherWindow::lingerAfterOpen.count()));

    // A digit opens the row it stands beside, a running profile comes forward; Escape and leaving close.
    QTest::keyClick(pressShortcut(fake.globalShortcut, korvel).searchField(), Qt::Key_1);
    settleApp();
    EXPECT_EQ(running->activateRequests, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !switcher.isVisible(); }, 2 * SwitcherWindow::lingerAfterOpen.count()));
    EXPECT_TRUE(pressShortcut(fake.globalShortcut, korvel).searchField()->text().isEmpty()) << "a fresh search";
    QTest::keyClicks(switcher.searchField(), "nobody");
    EXPECT_EQ(switcher.emptyText()->text(), "No profile matches “nobody”.");
    for (const auto key : {Qt::Key_Return, Qt::Key_2})
        QTest::keyClick(switcher.searchField(), key);
    EXPECT_TRUE(switcher.isVisible()) << "nothing to open";
    QTest::keyClick(switcher.searchField(), Qt::Key_Escape);
    EXPECT_FALSE(switcher.isVisible());
    pressShortcut(fake.globalShortcut, korvel);
    QWidget other; // a click into another window, as the window manager hands it the focus
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    // Asked again while the other window has not got the focus: a loaded window manager may drop a request.
    for (int attempt = 0; attempt < 5 && switcher.isVisible() && !other.isActiveWindow(); ++attempt) {
        ASSERT_EQ(QProcess::execute("xdotool", {"windowactivate", QString::number(other.winId())}), 0);
        [[maybe_unused]] const bool active = QTest::qWaitForWindowActive(&other, 2000); // looked at above
    }
    EXPECT_TRUE(waitUntil([&switcher] { return !switcher.isVisible(); }, 10s)) << "closed when it lost the focus";
    settleApp();
    EXPECT_THAT(fake.workspace.openedApplications, ElementsAre(paths.appURL(zoo)));
}

TEST_F(TrayTest, WithoutProfilesTheSwitcherSaysSoAndOffersNothing)
{
    fake.userDefaults.setBool(AppModel::didCompleteWelcomeKey, true);
    KorvelApp& korvel = startApp();
    settleApp();
    SwitcherWindow& switcher = pressShortcut(fake.globalShortcut, korvel);
    EXPECT_FALSE(switcher.searchField()->isVisible() || switcher.list()->isVisible());
    EXPECT_EQ(switcher.emptyText()->text(), "No profiles yet.\nCreate one with “New Profile…” in Korvel’s menu.");
    screenshot(switcher, "switcher-empty");
    QTest::keyClick(&switcher, Qt::Key_Escape);
    EXPECT_FALSE(switcher.isVisible());
}

TEST(BadgePixmapTest, QtImagesHoldTheCoresPixelsAndTheTrayBadgeItsColour)
{
    const Bitmap bitmap = IconRenderer::badge("K", ProfileColor(ProfileColor::Teal).rgb(), 14).render(2.0);
    const QImage image = BadgePixmap::image(bitmap);
    ASSERT_EQ(image.size(), QSize(28, 28));
    for (int i = 0; i < bitmap.width() * bitmap.height(); ++i) {
        const Bitmap::Rgba want = bitmap.pixel(i % bitmap.width(), i / bitmap.width());
        const QColor got = image.pixelColor(i % bitmap.width(), i / bitmap.width());
        // Straight colour from premultiplied words is equal only up to rounding: compare opaque pixels.
        ASSERT_EQ(got.alpha(), want.alpha) << "pixel " << i;
        ASSERT_TRUE(want.alpha != 255 || got.rgb() == qRgb(want.red, want.green, want.blue)) << "pixel " << i;
    }
    const QPixmap pixmap = BadgePixmap::render("K", ProfileColor::Teal, 14, 2.0);
    EXPECT_EQ(pixmap.devicePixelRatio(), 2.0);
    EXPECT_EQ(pixmap.deviceIndependentSize(), QSizeF(14, 14));

    // The tray's badge is the profile's colour at its rim (the letter is in the middle).
    const QImage tray = MenuBarLabel {makeProfile("Work", ProfileColor::Red)}.icon().pixmap(32).toImage();
    const Rgb red = ProfileColor(ProfileColor::Red).rgb();
    const QColor rim = tray.pixelColor(16, 4);
    EXPECT_NEAR(rim.redF(), red.red, 0.12);
    EXPECT_NEAR(rim.greenF(), red.green, 0.12);
    EXPECT_NEAR(rim.blueF(), red.blue, 0.12);
}

// MARK: Moving into an Applications folder

TEST(MoveToApplicationsTest, OnlyDiskImagesAndTranslocatedCopiesAreTemporary)
{
    for (const char* path :
        {"/Volumes/Korvel/Korvel.app", "/media/ann/KORVEL/Korvel.app", "/run/media/ann/KORVEL/Korvel.app",
            "/private/var/folders/x/AppTranslocation/1234/d/Korvel.app", "/tmp/.mount_KorvelXy12/Korvel.app"})
        EXPECT_TRUE(MoveToApplications::isTemporaryLocation(path)) << path;
    // A download folder is a normal folder; look-alike prefixes are not mounts.
    for (const char* path : {"/Applications/Korvel.app", "/home/ann/Applications/Korvel.app",
             "/home/ann/Downloads/Korvel.app", "/tmp/Korvel.app", "/opt/Volumes/Korvel.app", "/mediaplayer/Korvel.app"})
        EXPECT_FALSE(MoveToApplications::isTemporaryLocation(path)) << path;
}

// The offer played with temporary folders and scripted answers; the running copy sits where a self-mounting image
// would be mounted (/tmp/.mount_<random>).
class MoveTest : public ::testing::Test
{
protected:
    MoveTest()
    {
        system.bundle = fs::path("/tmp") / (".mount_korvel-" + temp.path().filename().string()) / "Korvel.app";
        writeText(system.bundle / "Contents/MacOS/Korvel", "new");
        fs::create_directory_symlink("MacOS", system.bundle / "Contents/Link");
        system.destinations = {temp / "Applications", temp / "home/Applications"};
        system.askToMove = [this] { return calls.push_back("ask"), answer; };
        system.tellMoveFailed = [this] { calls.push_back("tell failure"); };
        system.moveToTrash = [this](const fs::path& item) {
            calls.push_back("trash " + item.string());
            fs::rename(item, temp / "trashed");
            return true;
        };
        system.stripQuarantine = [this](const fs::path& target) { calls.push_back("strip " + target.string()); };
        system.relaunch = [this](const fs::path& target) { calls.push_back("relaunch " + target.string()); };
    }
    ~MoveTest() override { fs::remove_all(system.bundle.parent_path()); }

    TempDir temp;
    MoveToApplications::System system;
    bool answer = true;
    std::vector<std::string> calls;
};

TEST_F(MoveTest, OffersOnlyFromTemporaryPlacesThenReplacesAnOlderCopyAndRelaunches)
{
    MoveToApplications::System downloaded = system;
    downloaded.bundle = temp / "Downloads/Korvel.app";
    EXPECT_FALSE(MoveToApplications::offerIfNeeded(downloaded));
    answer = false;
    EXPECT_FALSE(MoveToApplications::offerIfNeeded(system)) << "Not Now changes nothing";
    EXPECT_THAT(calls, ElementsAre("ask")) << "asked from the image only";
    EXPECT_FALSE(fs::exists(temp / "Applications"));

    answer = true;
    calls.clear();
    const fs::path target = temp / "Applications/Korvel.app";
    writeText(target / "Contents/MacOS/Korvel", "old");
    EXPECT_EQ(MoveToApplications::offerIfNeeded(system), target);
    EXPECT_THAT(calls,
        ElementsAre("ask", "trash " + target.string(), "strip " + target.string(), "relaunch " + target.string()));
    EXPECT_EQ(readText(temp / "trashed/Contents/MacOS/Korvel"), "old") << "the older copy goes to the trash first";
    EXPECT_EQ(readText(target / "Contents/MacOS/Korvel"), "new");
    EXPECT_TRUE(fs::is_symlink(target / "Contents/Link")) << "links are copied as links";
    EXPECT_TRUE(fs::exists(system.bundle)) << "the running copy stays where it was";
}

TEST_F(MoveTest, FallsBackToTheHomeApplicationsFolderAndReportsWhenBothFail)
{
    // /Applications cannot be made: its parent is a file (fails for root too).
    writeText(temp / "blocked", "a file");
    system.destinations[0] = temp / "blocked/Applications";
    EXPECT_EQ(MoveToApplications::offerIfNeeded(system), temp / "home/Applications/Korvel.app")
        << "~/Applications, created when missing";

    calls.clear();
    system.destinations[1] = temp / "blocked/home/Applications";
    EXPECT_FALSE(MoveToApplications::offerIfNeeded(system));
    EXPECT_THAT(calls, ElementsAre("ask", "tell failure")) << "neither folder: the user is told, nothing relaunched";

    // A trash that refuses the older copy also moves on to the next folder.
    system.destinations = {temp / "Applications", temp / "home/Applications"};
    writeText(temp / "Applications/Korvel.app/Contents/MacOS/Korvel", "old");
    system.moveToTrash = [](const fs::path&) { return false; };
    fs::remove_all(temp / "home/Applications/Korvel.app");
    EXPECT_EQ(MoveToApplications::offerIfNeeded(system), temp / "home/Applications/Korvel.app");
    EXPECT_EQ(readText(temp / "Applications/Korvel.app/Contents/MacOS/Korvel"), "old");
}

// Answers the next modal message box with the button called `answer` (else its first); returns what it said. A
// box that does not come up within 10 s fails the test, and whatever modal window is up then is closed, so that
// `ask` returns.
QStringList answerNextBox(const std::function<void()>& ask, const QString& answer)
{
    QStringList said;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box && clock.elapsed() < 10'000)
            return;
        poll.stop();
        if (!box) {
            ADD_FAILURE() << "no message box within 10 s; the modal window up: "
                          << (modal ? modal->metaObject()->className() : "none");
            if (modal)
                modal->close();
            return;
        }
        said = {box->text(), box->informativeText()};
        QAbstractButton* chosen = box->buttons().value(0);
        for (QAbstractButton* button : box->buttons()) {
            said << button->text();
            chosen = button->text() == answer ? button : chosen;
        }
        chosen->click();
    });
    poll.start();
    ask();
    return said;
}

TEST(MoveAlertTest, TheOfferAsksWithItsOwnWords)
{
    TempDir temp;
    const auto live = MoveToApplications::System::live("/Volumes/Korvel/Korvel.app", temp / "home", {});
    EXPECT_THAT(live.destinations, ElementsAre("/Applications", temp / "home/Applications"));
    bool moves = true;
    EXPECT_EQ(answerNextBox([&] { moves = live.askToMove(); }, "Not Now").join("|"),
        "Move Korvel to Applications?|It’s running from the download. Moving it to your Applications folder lets it "
        "keep your profiles up to date and open at login.|Move to Applications|Not Now");
    EXPECT_FALSE(moves);
    EXPECT_EQ(answerNextBox(live.tellMoveFailed, {}).mid(0, 2).join("|"),
        "Couldn’t move the app|Drag Korvel from the disk image into your Applications folder, then open it from "
        "there.");
}

} // namespace
} // namespace korvel::test
