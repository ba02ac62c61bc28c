// The settings window over the model, and the offer to move Korvel into an Applications folder.

#include "tests/app/ui/support/UiSandbox.hpp"

#include "app/ui/MoveToApplications.hpp"
#include "app/ui/SettingsView.hpp"

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
    SettingsTest() { start(); }
};

TEST_F(SettingsTest, TogglesShowTheActualStateAndSpringBackWhenAChangeFails)
{
    SettingsView view(*model);
    showAndWait(view);
    EXPECT_EQ(view.width(), 520);
    QCheckBox& login = *view.launchAtLoginToggle();
    EXPECT_EQ(login.text(), "Launch at login");
    EXPECT_FALSE(login.isChecked());
    login.click();
    EXPECT_TRUE(fake.loginItem.enabled);
    EXPECT_TRUE(login.isChecked());
    fake.loginItem.failure = "the session manager refused";
    login.click();
    EXPECT_TRUE(login.isChecked()) << "still registered, so still on";
    EXPECT_EQ(view.autoUpdateToggle()->text(), "Keep profile apps up to date with Claude");
    view.autoUpdateToggle()->click();
    EXPECT_FALSE(model->autoUpdateProfileApps());
    model->setAutoUpdateProfileApps(true);
    EXPECT_TRUE(view.autoUpdateToggle()->isChecked()) << "follows the model";
    screenshot(view, "settings");
}

TEST_F(SettingsTest, LinkRoutingShowsWhenClaudeTookTheLinksBack)
{
    SettingsView view(*model);
    showAndWait(view);
    QCheckBox& route = *view.routeLinksToggle();
    EXPECT_EQ(route.text(), "Send claude:// links to the active profile");
    EXPECT_FALSE(route.isChecked());
    EXPECT_FALSE(view.linksTakenBackRow()->isVisible());
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
    EXPECT_TRUE(route.isChecked());
    EXPECT_FALSE(view.linksTakenBackRow()->isVisible());

    // Off again; a refusal to turn it on leaves it off.
    route.click();
    settle();
    fake.linkHandler.refusal = "no handler database";
    route.click();
    settle();
    EXPECT_FALSE(route.isChecked());
}

TEST_F(SettingsTest, LocationsAreShortenedAndClaudesVersionShown)
{
    SettingsView view(*model);
    showAndWait(view);
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
    for (const char* path :
        {"/Volumes/Korvel/Korvel.app", "/media/ann/KORVEL/Korvel.app", "/run/media/ann/KORVEL/Korvel.app",
            "/private/var/folders/x/AppTranslocation/1234/d/Korvel.app", "/tmp/.mount_KorvelXy12/Korvel.app"})
        EXPECT_TRUE(MoveToApplications::isTemporaryLocation(path)) << path;
    // A download folder is a normal folder; look-alike prefixes are not mounts.
    for (const char* path : {"/Applications/Korvel.app", "/home/ann/Applications/Korvel.app",
             "/home/ann/Downloads/Korvel.app", "/tmp/Korvel.app", "/opt/Volumes/Korvel.app", "/mediaplayer/Korvel.app"})
        EXPECT_FALSE(MoveToApplications::isTemporaryLocation(path)) << path;
}

// The offer played with temporary folders. The bundle sits in the temporary folder; the location rule is
// satisfied by a link that reads like a self-mounting image's folder (/tmp/.mount_<random>).
class MoveTest : public ::testing::Test
{
protected:
    MoveTest()
    {
        const fs::path image = temp / "Volumes/Korvel";
        writeText(image / "Korvel.app/Contents/MacOS/Korvel", "new");
        fs::create_directory_symlink("MacOS", image / "Korvel.app/Contents/Link");
        mount = fs::temp_directory_path() / (".mount_korvel-" + temp.path().filename().string());
        fs::create_directory_symlink(image, mount);
        system.bundle = mount / "Korvel.app";
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
    void SetUp() override
    {
        if (fs::temp_directory_path() != "/tmp")
            GTEST_SKIP() << "the image rule names /tmp/.mount_";
    }
    ~MoveTest() override { fs::remove(mount); }

    TempDir temp;
    fs::path mount;
    MoveToApplications::System system;
    bool answer = true;
    int asked = 0;
    int toldFailure = 0;
    std::vector<fs::path> trashed, stripped, relaunched;
};

TEST_F(MoveTest, OffersOnlyFromTemporaryPlacesThenReplacesAnOlderCopyAndRelaunches)
{
    MoveToApplications::System downloaded = system;
    downloaded.bundle = temp / "Downloads/Korvel.app";
    EXPECT_FALSE(MoveToApplications::offerIfNeeded(downloaded));
    EXPECT_EQ(asked, 0);
    answer = false;
    EXPECT_FALSE(MoveToApplications::offerIfNeeded(system)) << "Not Now changes nothing";
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(fs::exists(temp / "Applications"));

    answer = true;
    writeText(temp / "Applications/Korvel.app/Contents/MacOS/Korvel", "old");
    const auto target = MoveToApplications::offerIfNeeded(system);
    ASSERT_TRUE(target);
    EXPECT_EQ(*target, temp / "Applications/Korvel.app");
    EXPECT_THAT(trashed, ElementsAre(*target)) << "the older copy goes to the trash first";
    EXPECT_EQ(readText(temp / "trashed-1/Contents/MacOS/Korvel"), "old");
    EXPECT_EQ(readText(*target / "Contents/MacOS/Korvel"), "new");
    EXPECT_TRUE(fs::is_symlink(*target / "Contents/Link")) << "links are copied as links";
    EXPECT_THAT(stripped, ElementsAre(*target));
    EXPECT_THAT(relaunched, ElementsAre(*target));
    EXPECT_EQ(toldFailure, 0);
    EXPECT_TRUE(fs::exists(system.bundle)) << "the running copy stays where it was";
}

TEST_F(MoveTest, FallsBackToTheHomeApplicationsFolderAndReportsWhenBothFail)
{
    // /Applications cannot be made: its parent is a file (fails for root too).
    writeText(temp / "blocked", "a file");
    system.destinations[0] = temp / "blocked/Applications";
    EXPECT_EQ(MoveToApplications::offerIfNeeded(system), temp / "home/Applications/Korvel.app")
        << "~/Applications, created when missing";

    relaunched.clear();
    system.destinations[1] = temp / "blocked/home/Applications";
    EXPECT_FALSE(MoveToApplications::offerIfNeeded(system));
    EXPECT_EQ(toldFailure, 1) << "neither folder: the user is told";
    EXPECT_TRUE(relaunched.empty());

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
