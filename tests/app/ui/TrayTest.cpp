// The application object, its delegate and the tray item, on a desktop with a real tray (trayer); the offer to
// move Korvel into an Applications folder.

#include "tests/app/ui/support/UiSandbox.hpp"

#include "app/ui/BadgePixmap.hpp"
#include "app/ui/MenuBarItem.hpp"
#include "app/ui/MoveToApplications.hpp"
#include "app/ui/NewProfileSheet.hpp"
#include "app/ui/WelcomeView.hpp"
#include "core/building/IconRenderer.hpp"

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest/QTest>
#include <gmock/gmock.h>

namespace korvel::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using namespace std::chrono_literals;

QAction* actionNamed(QMenu& menu, const QString& text)
{
    for (QAction* action : menu.actions()) {
        if (action->text() == text)
            return action;
    }
    throw std::runtime_error("no menu item " + text.toStdString());
}

// The widget Qt embeds into the X11 tray for the icon.
QWidget* trayIconWidget()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qstrcmp(widget->metaObject()->className(), "QSystemTrayIconSys") == 0)
            return widget;
    }
    return nullptr;
}

using TrayTest = UiSandbox;

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
    ASSERT_TRUE(withoutTray.mainWindow());
    EXPECT_TRUE(withoutTray.mainWindow()->isVisible());
    EXPECT_FALSE(withoutTray.menuBarItem()->trayIcon().isVisible());
    stopApp();

    fake.userDefaults.setBool(AppModel::didCompleteWelcomeKey, false);
    KorvelApp& firstStart = startApp();
    ASSERT_TRUE(firstStart.mainWindow());
    EXPECT_TRUE(firstStart.mainWindow()->isVisible());
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

    // Choosing "Manage Profiles…" with the mouse opens the window.
    QAction* manage = actionNamed(menu, "Manage Profiles…");
    QTest::mouseClick(&menu, Qt::LeftButton, Qt::NoModifier, menu.actionGeometry(manage).center());
    ASSERT_TRUE(waitUntil([&korvel] { return korvel.mainWindow() && korvel.mainWindow()->isVisible(); }, 10s));
    EXPECT_FALSE(menu.isVisible());

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
    EXPECT_FALSE(korvel.delegate().applicationShouldTerminateAfterLastWindowClosed());
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
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(korvel.menuBarItem()->trayIcon().isVisible());
    EXPECT_EQ(quit.count(), 0);
    actionNamed(menu, "Manage Profiles…")->trigger();
    EXPECT_EQ(korvel.mainWindow(), window) << "the one window comes back";
    EXPECT_TRUE(window->isVisible());
    actionNamed(menu, "Quit Korvel")->trigger();
    window->quitCommand()->trigger();
    EXPECT_EQ(quit.count(), 2);

    EXPECT_EQ(window->quitCommand()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(window->openAllCommand()->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    EXPECT_EQ(window->newProfileCommand()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
    window->newProfileCommand()->trigger();
    EXPECT_TRUE(korvel.model().showNewProfile()) << "inside the window it only asks for the sheet";
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

TEST(BadgePixmapTest, QtImagesHoldTheCoresPixelsAndTheTrayBadgeItsColour)
{
    const Bitmap bitmap = IconRenderer::badge("K", ProfileColor(ProfileColor::Teal).rgb(), 14).render(2.0);
    const QImage image = BadgePixmap::image(bitmap);
    ASSERT_EQ(image.size(), QSize(28, 28));
    for (int y = 0; y < bitmap.height(); ++y) {
        for (int x = 0; x < bitmap.width(); ++x) {
            const Bitmap::Rgba want = bitmap.pixel(x, y);
            const QColor got = image.pixelColor(x, y);
            // Straight colour from premultiplied words is equal only up to rounding: compare opaque pixels.
            ASSERT_EQ(got.alpha(), want.alpha) << x << "," << y;
            if (want.alpha == 255) {
                ASSERT_EQ(got.rgb(), qRgb(want.red, want.green, want.blue)) << x << "," << y;
            }
        }
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

// Answers the next modal message box with the button called `answer` (else its first); returns what it said.
QStringList answerNextBox(const std::function<void()>& ask, const QString& answer)
{
    QStringList said;
    QTimer::singleShot(200, [&said, answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        said = {box->text(), box->informativeText()};
        QAbstractButton* chosen = box->buttons().value(0);
        for (QAbstractButton* button : box->buttons()) {
            said << button->text();
            chosen = button->text() == answer ? button : chosen;
        }
        chosen->click();
    });
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
