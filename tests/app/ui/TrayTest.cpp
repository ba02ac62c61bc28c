// The application object, its delegate and the tray item, on a desktop with a real tray (trayer).

#include "tests/app/ui/support/UiSandbox.hpp"

#include "app/ui/BadgePixmap.hpp"
#include "app/ui/ContentView.hpp"
#include "app/ui/MenuBarItem.hpp"
#include "app/ui/NewProfileSheet.hpp"
#include "app/ui/WelcomeView.hpp"
#include "core/building/IconRenderer.hpp"
#include "tests/app/support/Await.hpp"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QtTest/QTest>
#include <gmock/gmock.h>

namespace korvel::test {
namespace {

using ::testing::ElementsAre;

struct MenuLine
{
    std::string text;
    bool enabled = true;
    bool separator = false;
    friend bool operator==(const MenuLine&, const MenuLine&) = default;
    friend std::ostream& operator<<(std::ostream& out, const MenuLine& line)
    {
        return out << (line.separator ? "----" : line.text) << (line.enabled ? "" : " (disabled)");
    }
};

MenuLine line(std::string text, bool enabled = true)
{
    return {std::move(text), enabled, false};
}

const MenuLine separator {{}, true, true};

std::vector<MenuLine> linesOf(QMenu& menu)
{
    std::vector<MenuLine> lines;
    for (QAction* action : menu.actions())
        lines.push_back({action->text().toStdString(), action->isEnabled(), action->isSeparator()});
    return lines;
}

QAction* actionNamed(QMenu& menu, const QString& text)
{
    for (QAction* action : menu.actions()) {
        if (action->text() == text)
            return action;
    }
    ADD_FAILURE() << "no menu item " << text.toStdString();
    return nullptr;
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

class TrayTest : public UiSandbox
{
protected:
    KorvelApp& startApp(bool tray = true)
    {
        KorvelApp& korvel = makeApp();
        korvel.start(tray);
        return korvel;
    }

    void completeWelcome() { fake.userDefaults.setBool(AppModel::didCompleteWelcomeKey, true); }
};

TEST_F(TrayTest, MenuWithoutProfilesOffersOnlyCreation)
{
    completeWelcome();
    KorvelApp& korvel = startApp();
    settleApp();
    QMenu& menu = korvel.menuBarItem()->menu();
    EXPECT_THAT(linesOf(menu),
        ElementsAre(line("No profiles yet", false), separator, line("Open All Profiles", false), line("New Profile…"),
            line("Manage Profiles…"), line("Settings…"), separator, line("Quit Korvel")));
    EXPECT_EQ(actionNamed(menu, "Quit Korvel")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    // No active profile: Korvel's own symbol and name, no "Active:" line.
    EXPECT_FALSE(korvel.menuBarItem()->label().profile);
    EXPECT_EQ(korvel.menuBarItem()->trayIcon().toolTip(), "Korvel");
    EXPECT_FALSE(korvel.mainWindow()) << "with a tray and the welcome done, Korvel starts in the tray only";
}

TEST_F(TrayTest, MenuShowsTheActiveProfileAndWhichAppsRun)
{
    const Profile work = makeProfile("Work", ProfileColor::Teal);
    const Profile personal = makeProfile("Personal", ProfileColor::Orange);
    storeProfiles({work, personal});
    KorvelApp& korvel = startApp();
    settleApp();
    QMenu& menu = korvel.menuBarItem()->menu();
    EXPECT_THAT(linesOf(menu),
        ElementsAre(line("Work"), line("Personal"), separator, line("Open All Profiles"), line("New Profile…"),
            line("Manage Profiles…"), line("Settings…"), separator, line("Quit Korvel")));
    for (const QString name : {"Work", "Personal"})
        EXPECT_FALSE(actionNamed(menu, name)->icon().isNull()) << "each row carries its badge";

    const auto app = launchApp(work);
    fake.workspace.bringToFront(app);
    EXPECT_THAT(linesOf(menu),
        ElementsAre(line("Active: Work", false), line("Work — Running"), line("Personal"), separator,
            line("Open All Profiles"), line("New Profile…"), line("Manage Profiles…"), line("Settings…"), separator,
            line("Quit Korvel")));
    EXPECT_EQ(korvel.menuBarItem()->label().profile, work);
    EXPECT_EQ(korvel.menuBarItem()->trayIcon().toolTip(), "Active Claude account: Work");

    // The app quits: its row goes back to the bare name; it stays the active profile.
    fake.workspace.quit(app);
    settleApp();
    EXPECT_EQ(linesOf(menu)[1], line("Work"));
    EXPECT_EQ(linesOf(menu)[0], line("Active: Work", false));
}

TEST_F(TrayTest, MenuIsRebuiltWhenWhatItShowsChangesAndOnlyThen)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work});
    KorvelApp& korvel = startApp();
    settleApp();
    MenuBarItem& item = *korvel.menuBarItem();
    const int builds = item.menuBuilds();
    korvel.model().setSelection(std::nullopt); // published, but not in the menu
    korvel.model().setAutoUpdateProfileApps(false);
    spin(std::chrono::milliseconds(1500)); // no timer rebuilds it meanwhile
    EXPECT_EQ(item.menuBuilds(), builds);
    launchApp(work);
    EXPECT_EQ(item.menuBuilds(), builds + 1);
    EXPECT_EQ(linesOf(item.menu())[0], line("Work — Running"));
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
    ASSERT_TRUE(eventually([&tray] { return tray.geometry().isValid() && trayIconWidget(); }))
        << "trayer never embedded the icon";
    const QRect screen = QApplication::primaryScreen()->geometry();
    EXPECT_TRUE(screen.contains(tray.geometry())) << "the icon is on screen, in the tray at the top edge";
    EXPECT_LT(tray.geometry().top(), 40);

    // A right click on the embedded icon shows the menu, as the desktop would.
    QWidget* icon = trayIconWidget();
    QTest::mouseClick(icon, Qt::RightButton, Qt::NoModifier, icon->rect().center());
    QMenu& menu = korvel.menuBarItem()->menu();
    ASSERT_TRUE(eventually([&menu] { return menu.isVisible(); }));
    screenshot(menu, "tray-menu");
    QScreen* display = QApplication::primaryScreen();
    const QPixmap desktop = display->grabWindow(0);
    EXPECT_TRUE(desktop.save(QString(KORVEL_BINARY_DIR) + "/screenshots/tray-desktop.png"));

    // Choosing "Manage Profiles…" with the mouse opens the window.
    QAction* manage = actionNamed(menu, "Manage Profiles…");
    QTest::mouseClick(&menu, Qt::LeftButton, Qt::NoModifier, menu.actionGeometry(manage).center());
    ASSERT_TRUE(eventually([&korvel] { return korvel.mainWindow() && korvel.mainWindow()->isVisible(); }));
    EXPECT_FALSE(menu.isVisible());

    // A left click shows the menu as well.
    QTest::mouseClick(icon, Qt::LeftButton, Qt::NoModifier, icon->rect().center());
    ASSERT_TRUE(eventually([&menu] { return menu.isVisible(); }));
    menu.hide();
}

TEST_F(TrayTest, ProfileRowsAndOpenAllOpenTheApps)
{
    const Profile work = makeProfile("Work");
    const Profile personal = makeProfile("Personal");
    storeProfiles({work, personal});
    buildApp(work);
    buildApp(personal);
    KorvelApp& korvel = startApp();
    settleApp();
    actionNamed(korvel.menuBarItem()->menu(), "Personal")->trigger();
    settleApp();
    EXPECT_THAT(fake.workspace.openedApplications, ElementsAre(paths.appURL(personal)));
    actionNamed(korvel.menuBarItem()->menu(), "Open All Profiles")->trigger();
    settleApp();
    EXPECT_THAT(fake.workspace.openedApplications,
        ElementsAre(paths.appURL(personal), paths.appURL(work), paths.appURL(personal)));
}

TEST_F(TrayTest, NewProfileFromTheMenuOpensTheWindowThenTheSheet)
{
    completeWelcome();
    KorvelApp& korvel = startApp();
    ASSERT_FALSE(korvel.mainWindow());
    actionNamed(korvel.menuBarItem()->menu(), "New Profile…")->trigger();
    ContentView* window = korvel.mainWindow();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(korvel.model().showNewProfile());
    ASSERT_TRUE(eventually([window] { return window->newProfileSheet() && window->newProfileSheet()->isVisible(); }));
    EXPECT_TRUE(eventually([window] {
        return window->isActiveWindow() || window->newProfileSheet()->isActiveWindow();
    })) << "the window is brought to the front";

    // Cancel, close the window, and ask for the sheet with Ctrl+N inside the window: only the flag is set there.
    window->newProfileSheet()->cancelButton()->click();
    EXPECT_FALSE(korvel.model().showNewProfile());
    EXPECT_TRUE(eventually([window] { return !window->newProfileSheet(); }));
    EXPECT_EQ(window->newProfileCommand()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
    EXPECT_EQ(window->openAllCommand()->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    window->newProfileCommand()->trigger();
    EXPECT_TRUE(korvel.model().showNewProfile());
}

TEST_F(TrayTest, ClosingTheWindowKeepsKorvelRunningAndQuitIsExplicit)
{
    completeWelcome();
    QApplication::setQuitOnLastWindowClosed(true);
    KorvelApp& korvel = startApp();
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed()) << "Korvel lives on in the tray";
    EXPECT_FALSE(korvel.delegate().applicationShouldTerminateAfterLastWindowClosed());
    QSignalSpy quit(&korvel, &KorvelApp::quitRequested);
    actionNamed(korvel.menuBarItem()->menu(), "Manage Profiles…")->trigger();
    ContentView* window = korvel.mainWindow();
    showAndWait(*window);
    window->close();
    spin();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(quit.count(), 0);
    EXPECT_TRUE(korvel.menuBarItem()->trayIcon().isVisible());

    actionNamed(korvel.menuBarItem()->menu(), "Manage Profiles…")->trigger();
    EXPECT_EQ(korvel.mainWindow(), window) << "the one window comes back";
    EXPECT_TRUE(window->isVisible());
    actionNamed(korvel.menuBarItem()->menu(), "Quit Korvel")->trigger();
    EXPECT_EQ(quit.count(), 1);
    window->quitCommand()->trigger();
    EXPECT_EQ(quit.count(), 2);
    EXPECT_EQ(window->quitCommand()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
}

TEST_F(TrayTest, WithoutATrayOrWithTheWelcomeDueTheWindowOpensAtStart)
{
    completeWelcome();
    KorvelApp& withoutTray = startApp(false);
    ASSERT_TRUE(withoutTray.mainWindow());
    EXPECT_TRUE(withoutTray.mainWindow()->isVisible());
    EXPECT_FALSE(withoutTray.menuBarItem()->trayIcon().isVisible());
    stopApp();

    fake.userDefaults.setBool(AppModel::didCompleteWelcomeKey, false);
    KorvelApp& firstStart = startApp(true);
    ASSERT_TRUE(firstStart.mainWindow());
    EXPECT_TRUE(firstStart.mainWindow()->isVisible());
    EXPECT_TRUE(eventually([&firstStart] { return firstStart.mainWindow()->welcomeView() != nullptr; }));
}

TEST_F(TrayTest, LinksReachTheModelOnlyOnceTheDelegateIsConnected)
{
    completeWelcome();
    KorvelApp& korvel = makeApp();
    const std::vector<std::string> links = {"claude://claude.ai/new", "claude://claude.ai/chat/1"};
    korvel.delegate().open(links);
    EXPECT_TRUE(fake.workspace.openedURLs.empty()) << "dropped: the model is not connected yet";
    korvel.start(true);
    EXPECT_EQ(korvel.delegate().model(), &korvel.model());
    korvel.delegate().open(links);
    ASSERT_EQ(fake.workspace.openedURLs.size(), 1u);
    EXPECT_EQ(fake.workspace.openedURLs[0].urls, links);
    EXPECT_EQ(fake.workspace.openedURLs[0].application, paths.sourceApp) << "routing is off";
}

TEST(BadgePixmapTest, QtImagesHoldTheCoresPixelsUnchanged)
{
    const Bitmap bitmap = IconRenderer::badge("K", ProfileColor(ProfileColor::Teal).rgb(), 14).render(2.0);
    ASSERT_EQ(bitmap.width(), 28);
    const QImage image = BadgePixmap::image(bitmap);
    ASSERT_EQ(image.size(), QSize(28, 28));
    for (int y = 0; y < bitmap.height(); ++y) {
        for (int x = 0; x < bitmap.width(); ++x) {
            const Bitmap::Rgba expected = bitmap.pixel(x, y);
            const QColor actual = image.pixelColor(x, y);
            // Straight colour from premultiplied words: equal up to rounding.
            ASSERT_EQ(actual.alpha(), expected.alpha) << x << "," << y;
            if (expected.alpha == 255) {
                ASSERT_EQ(actual.red(), expected.red) << x << "," << y;
                ASSERT_EQ(actual.green(), expected.green) << x << "," << y;
                ASSERT_EQ(actual.blue(), expected.blue) << x << "," << y;
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

} // namespace
} // namespace korvel::test
