// The settings window over the model, and the offer to move Korvel into an Applications folder.

#include "tests/app/ui/support/UiSandbox.hpp"

#include "app/ui/MoveToApplications.hpp"
#include "app/ui/SettingsView.hpp"
#include "tests/app/support/Await.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gmock/gmock.h>

namespace korvel::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

class SettingsTest : public UiSandbox
{
protected:
    ~SettingsTest() override
    {
        settings.reset();
        settle();
    }

    SettingsView& openSettings()
    {
        if (!model)
            start();
        settings = std::make_unique<SettingsView>(*model);
        showAndWait(*settings);
        return *settings;
    }

    std::unique_ptr<SettingsView> settings;
};

TEST_F(SettingsTest, TogglesShowTheActualStateAndSpringBackWhenAChangeFails)
{
    SettingsView& view = openSettings();
    EXPECT_EQ(view.width(), 520);
    EXPECT_EQ(view.launchAtLoginToggle()->text(), "Launch at login");
    EXPECT_FALSE(view.launchAtLoginToggle()->isChecked());
    view.launchAtLoginToggle()->click();
    EXPECT_TRUE(fake.loginItem.enabled);
    EXPECT_TRUE(view.launchAtLoginToggle()->isChecked());

    fake.loginItem.failure = "the session manager refused";
    view.launchAtLoginToggle()->click();
    EXPECT_TRUE(view.launchAtLoginToggle()->isChecked()) << "still registered, so still on";
    EXPECT_EQ(model->errorMessage(), "Couldn’t change Launch at Login: the session manager refused");

    EXPECT_EQ(view.autoUpdateToggle()->text(), "Keep profile apps up to date with Claude");
    EXPECT_TRUE(view.autoUpdateToggle()->isChecked());
    view.autoUpdateToggle()->click();
    EXPECT_FALSE(model->autoUpdateProfileApps());
    model->setAutoUpdateProfileApps(true);
    EXPECT_TRUE(view.autoUpdateToggle()->isChecked()) << "follows the model";
    screenshot(view, "settings");
}

TEST_F(SettingsTest, LinkRoutingShowsWhenClaudeTookTheLinksBack)
{
    SettingsView& view = openSettings();
    EXPECT_EQ(view.routeLinksToggle()->text(), "Send claude:// links to the active profile");
    EXPECT_FALSE(view.routeLinksToggle()->isChecked());
    EXPECT_FALSE(view.linksTakenBackRow()->isVisible());

    view.routeLinksToggle()->click();
    settle();
    EXPECT_EQ(fake.linkHandler.handlers["claude"], ownBundle);
    EXPECT_TRUE(model->routeClaudeLinks());
    EXPECT_TRUE(view.routeLinksToggle()->isChecked());
    EXPECT_FALSE(view.linksTakenBackRow()->isVisible());

    // Claude claims the scheme again behind Korvel's back; the window notices at the next change.
    fake.linkHandler.handlers["claude"] = paths.sourceApp;
    model->setSelection(std::nullopt);
    EXPECT_FALSE(view.routeLinksToggle()->isChecked());
    EXPECT_TRUE(view.linksTakenBackRow()->isVisible());
    EXPECT_EQ(view.turnOnAgainButton()->text(), "Turn On Again");
    screenshot(view, "settings-links-taken-back");
    view.turnOnAgainButton()->click();
    settle();
    EXPECT_EQ(fake.linkHandler.handlers["claude"], ownBundle);
    EXPECT_TRUE(view.routeLinksToggle()->isChecked());
    EXPECT_FALSE(view.linksTakenBackRow()->isVisible());

    // Turning it off gives the links back; a refusal leaves everything as it was.
    view.routeLinksToggle()->click();
    settle();
    EXPECT_EQ(fake.linkHandler.handlers["claude"], paths.sourceApp);
    EXPECT_FALSE(view.routeLinksToggle()->isChecked());
    fake.linkHandler.refusal = "no handler database";
    view.routeLinksToggle()->click();
    settle();
    EXPECT_FALSE(view.routeLinksToggle()->isChecked());
    EXPECT_FALSE(view.linksTakenBackRow()->isVisible());
    EXPECT_EQ(model->errorMessage(), "Couldn’t change the claude:// link handler: no handler database");
}

TEST_F(SettingsTest, LocationsAreShortenedAndClaudesVersionShown)
{
    SettingsView& view = openSettings();
    EXPECT_EQ(view.profileAppsLocation()->text(), "~/Applications/Claude Profiles");
    EXPECT_EQ(view.profileDataLocation()->text(), QString::fromStdString(paths.supportDir.string()))
        << "outside the home folder: the full path";
    EXPECT_EQ(view.claudeVersion()->text(), "Version 1.0.0");
    removeClaude();
    model->refreshStatuses();
    EXPECT_EQ(view.claudeVersion()->text(), "Not installed");
}

// MARK: Moving into an Applications folder

TEST(MoveToApplicationsTest, OnlyDiskImagesAndTranslocatedCopiesAreTemporary)
{
    using MoveToApplications::isTemporaryLocation;
    EXPECT_TRUE(isTemporaryLocation("/Volumes/Korvel/Korvel.app"));
    EXPECT_TRUE(isTemporaryLocation("/media/ann/KORVEL/Korvel.app"));
    EXPECT_TRUE(isTemporaryLocation("/run/media/ann/KORVEL/Korvel.app"));
    EXPECT_TRUE(isTemporaryLocation("/private/var/folders/x/AppTranslocation/1234/d/Korvel.app"));
    EXPECT_TRUE(isTemporaryLocation("/tmp/.mount_KorvelXy12/Korvel.app"));
    EXPECT_FALSE(isTemporaryLocation("/Applications/Korvel.app"));
    EXPECT_FALSE(isTemporaryLocation("/home/ann/Applications/Korvel.app"));
    EXPECT_FALSE(isTemporaryLocation("/home/ann/Downloads/Korvel.app")) << "a download folder is a normal folder";
    EXPECT_FALSE(isTemporaryLocation("/tmp/Korvel.app"));
    EXPECT_FALSE(isTemporaryLocation("/opt/Volumes/Korvel.app"));
    EXPECT_FALSE(isTemporaryLocation("/mediaplayer/Korvel.app"));
}

class MoveTest : public ::testing::Test
{
protected:
    MoveTest()
    {
        system.bundle = temp / "Volumes/Korvel/Korvel.app";
        writeText(system.bundle / "Contents/MacOS/Korvel", "new");
        writeText(system.bundle / "Contents/Info.plist", "plist");
        fs::create_directory_symlink("MacOS", system.bundle / "Contents/Link");
        system.destinations = {temp / "Applications", temp / "home/Applications"};
        system.askToMove = [this] {
            ++asked;
            return answer;
        };
        system.tellMoveFailed = [this] { ++toldFailure; };
        system.moveToTrash = [this](const fs::path& item) {
            trashed.push_back(item);
            fs::rename(item, temp / ("trashed-" + std::to_string(trashed.size())));
            return true;
        };
        system.stripQuarantine = [this](const fs::path& target) { stripped.push_back(target); };
        system.relaunch = [this](const fs::path& target) { relaunched.push_back(target); };
    }

    // Offers with the running bundle at `location` (absolute, under the temporary folder's root).
    std::optional<fs::path> offerFrom(const fs::path& location)
    {
        MoveToApplications::System moved = system;
        moved.bundle = location;
        return MoveToApplications::offerIfNeeded(moved);
    }

    TempDir temp;
    MoveToApplications::System system;
    bool answer = true;
    int asked = 0;
    int toldFailure = 0;
    std::vector<fs::path> trashed;
    std::vector<fs::path> stripped;
    std::vector<fs::path> relaunched;
};

TEST_F(MoveTest, NoOfferOutsideTemporaryLocationsAndNotNowChangesNothing)
{
    // The offer looks at the bundle's real path; the fixture's disk image lives in a temporary folder, so the rule
    // is exercised with a path that reads like one.
    EXPECT_FALSE(offerFrom(temp / "Downloads/Korvel.app"));
    EXPECT_EQ(asked, 0);

    answer = false;
    MoveToApplications::System notNow = system;
    notNow.bundle = "/Volumes/Korvel/Korvel.app";
    EXPECT_FALSE(MoveToApplications::offerIfNeeded(notNow));
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(fs::exists(temp / "Applications"));
    EXPECT_TRUE(relaunched.empty());
}

// The real bundle sits in the temporary folder; the rule that decides whether to offer is tested above, so here the
// location check is satisfied by a link that reads like a mounted image.
class MoveFromImageTest : public MoveTest
{
protected:
    MoveFromImageTest()
    {
        // /tmp/.mount_<random>: a self-mounting image's folder, which isTemporaryLocation accepts.
        mount = fs::temp_directory_path() / (".mount_korvel-" + temp.path().filename().string());
        fs::create_directory_symlink(system.bundle.parent_path(), mount);
        system.bundle = mount / "Korvel.app";
    }
    ~MoveFromImageTest() override { fs::remove(mount); }

    fs::path mount;
};

TEST_F(MoveFromImageTest, MovesIntoTheFirstFolderThatTakesItAndRelaunches)
{
    if (fs::temp_directory_path() != "/tmp")
        GTEST_SKIP() << "the image rule names /tmp/.mount_";
    const auto target = MoveToApplications::offerIfNeeded(system);
    ASSERT_TRUE(target);
    EXPECT_EQ(*target, temp / "Applications/Korvel.app");
    EXPECT_EQ(readText(*target / "Contents/MacOS/Korvel"), "new");
    EXPECT_TRUE(fs::is_symlink(*target / "Contents/Link")) << "links are copied as links";
    EXPECT_THAT(stripped, ElementsAre(*target));
    EXPECT_THAT(relaunched, ElementsAre(*target));
    EXPECT_EQ(toldFailure, 0);
    EXPECT_TRUE(fs::exists(system.bundle)) << "the running copy stays where it was";
}

TEST_F(MoveFromImageTest, AnOlderCopyGoesToTheTrashFirst)
{
    if (fs::temp_directory_path() != "/tmp")
        GTEST_SKIP() << "the image rule names /tmp/.mount_";
    writeText(temp / "Applications/Korvel.app/Contents/MacOS/Korvel", "old");
    const auto target = MoveToApplications::offerIfNeeded(system);
    ASSERT_TRUE(target);
    EXPECT_THAT(trashed, ElementsAre(temp / "Applications/Korvel.app"));
    EXPECT_EQ(readText(*target / "Contents/MacOS/Korvel"), "new");
    EXPECT_EQ(readText(temp / "trashed-1/Contents/MacOS/Korvel"), "old");
}

TEST_F(MoveFromImageTest, FallsBackToTheHomeApplicationsFolderAndReportsWhenBothFail)
{
    if (fs::temp_directory_path() != "/tmp")
        GTEST_SKIP() << "the image rule names /tmp/.mount_";
    // /Applications cannot be made: its parent is a file (fails for root too).
    writeText(temp / "blocked", "a file");
    system.destinations[0] = temp / "blocked/Applications";
    const auto target = MoveToApplications::offerIfNeeded(system);
    ASSERT_TRUE(target);
    EXPECT_EQ(*target, temp / "home/Applications/Korvel.app") << "~/Applications, created when missing";

    // Neither folder: the user is told, nothing relaunches.
    relaunched.clear();
    system.destinations[1] = temp / "blocked/home/Applications";
    EXPECT_FALSE(MoveToApplications::offerIfNeeded(system));
    EXPECT_EQ(toldFailure, 1);
    EXPECT_TRUE(relaunched.empty());

    // A trash that refuses the older copy also moves on to the next folder.
    toldFailure = 0;
    system.destinations = {temp / "Applications", temp / "home/Applications"};
    writeText(temp / "Applications/Korvel.app/Contents/MacOS/Korvel", "old");
    system.moveToTrash = [](const fs::path&) { return false; };
    fs::remove_all(temp / "home/Applications/Korvel.app");
    const auto fallback = MoveToApplications::offerIfNeeded(system);
    ASSERT_TRUE(fallback);
    EXPECT_EQ(*fallback, temp / "home/Applications/Korvel.app");
    EXPECT_EQ(readText(temp / "Applications/Korvel.app/Contents/MacOS/Korvel"), "old");
}

TEST(MoveAlertTest, TheOfferAsksWithItsOwnWords)
{
    TempDir temp;
    std::vector<fs::path> relaunched;
    const MoveToApplications::System live = MoveToApplications::System::live("/Volumes/Korvel/Korvel.app",
        temp / "home", [&relaunched](const fs::path& target) { relaunched.push_back(target); });
    EXPECT_THAT(live.destinations, ElementsAre("/Applications", temp / "home/Applications"));
    QString text;
    QString informative;
    QStringList buttons;
    QTimer::singleShot(200, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        text = box->text();
        informative = box->informativeText();
        QAbstractButton* notNow = nullptr;
        for (QAbstractButton* button : box->buttons()) {
            buttons << button->text();
            if (button->text() == "Not Now")
                notNow = button;
        }
        ASSERT_TRUE(notNow);
        notNow->click();
    });
    EXPECT_FALSE(live.askToMove());
    EXPECT_EQ(text, "Move Korvel to Applications?");
    EXPECT_EQ(informative,
        "It’s running from the download. Moving it to your Applications folder lets it keep your "
        "profiles up to date and open at login.");
    EXPECT_THAT(buttons, ::testing::UnorderedElementsAre("Move to Applications", "Not Now"));

    QTimer::singleShot(200, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        text = box->text();
        informative = box->informativeText();
        box->buttons()[0]->click();
    });
    live.tellMoveFailed();
    EXPECT_EQ(text, "Couldn’t move the app");
    EXPECT_EQ(informative, "Drag Korvel from the disk image into your Applications folder, then open it from there.");
    EXPECT_TRUE(relaunched.empty());
}

} // namespace
} // namespace korvel::test
