// The new-profile sheet and the welcome, presented by the management window over the model.

#include "tests/app/ui/support/UiSandbox.hpp"

#include "app/ui/ColorPalette.hpp"
#include "app/ui/NameAndColor.hpp"
#include "app/ui/NewProfileSheet.hpp"
#include "app/ui/OptionCard.hpp"
#include "app/ui/ProfileBadge.hpp"
#include "app/ui/WelcomeView.hpp"
#include "tests/support/StandInClaude.hpp"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>
#include <gmock/gmock.h>

namespace korvel::test {
namespace {

using ::testing::ElementsAre;

std::vector<Profile> named(std::initializer_list<const char*> names)
{
    std::vector<Profile> profiles;
    for (const char* name : names)
        profiles.push_back(makeProfile(name));
    return profiles;
}

class SheetsTest : public UiSandbox
{
protected:
    NewProfileSheet& newProfileSheet()
    {
        model->setShowNewProfile(true);
        EXPECT_TRUE(waitUntil([this] { return window->newProfileSheet() && window->newProfileSheet()->isVisible(); }));
        return *window->newProfileSheet();
    }

    WelcomeView& welcome()
    {
        EXPECT_TRUE(waitUntil([this] { return window->welcomeView() && window->welcomeView()->isVisible(); }));
        return *window->welcomeView();
    }

    void createdIs(const std::string& name, ProfileColor color)
    {
        settle();
        ASSERT_FALSE(model->profiles().empty());
        EXPECT_EQ(model->profiles().back().name, name);
        EXPECT_EQ(model->profiles().back().color, color);
    }
};

TEST_F(SheetsTest, SuggestionsSkipTakenNamesAndColours)
{
    EXPECT_EQ(NewProfileSheet::suggestedName({}), "Work");
    EXPECT_EQ(NewProfileSheet::suggestedName(named({"work", "Personal"})), "Client") << "case is ignored";
    EXPECT_EQ(NewProfileSheet::suggestedName(named({"Work", "Personal", "Client", "Side Project", "Team", "Research"})),
        "Profile 7");
    EXPECT_EQ(NewProfileSheet::suggestedName(
                  named({"Work", "PERSONAL", "client", "side project", "TEAM", "research", "Extra"})),
        "Profile 8");
    EXPECT_EQ(NewProfileSheet::finalName(" \t\n ", named({"Work"})), "Personal");
    EXPECT_EQ(NewProfileSheet::finalName("  Acme  ", {}), "Acme");

    EXPECT_EQ(NewProfileSheet::initialColor({}), ProfileColor::Orange);
    EXPECT_EQ(
        NewProfileSheet::initialColor({makeProfile("A", ProfileColor::Orange), makeProfile("B", ProfileColor::Pink)}),
        ProfileColor::Red);
    std::vector<Profile> everyColour;
    for (const ProfileColor color : ProfileColor::allCases())
        everyColour.push_back(makeProfile("X", color));
    EXPECT_EQ(NewProfileSheet::initialColor(everyColour), ProfileColor::Blue) << "every colour in use";
}

TEST_F(SheetsTest, NewProfileSheetPreviewsCancelsAndCreatesWithTheSuggestionForABlankName)
{
    storeProfiles({makeProfile("work", ProfileColor::Orange), makeProfile("Personal", ProfileColor::Red)});
    ContentView& view = openWindow();
    NewProfileSheet& sheet = newProfileSheet();
    EXPECT_EQ(sheet.width(), 460);
    EXPECT_EQ(sheet.nameField()->placeholderText(), "Client");
    EXPECT_EQ(sheet.colorPalette()->selection(), ProfileColor::Pink) << "the first colour no profile uses";
    EXPECT_EQ(sheet.badge()->letter(), "C") << "the badge shows the suggestion while the name is empty";
    EXPECT_EQ(sheet.explanation()->text(),
        "Creates “Claude Client” in ~/Applications/Claude Profiles and opens it. "
        "Sign in there with the account you want.");
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
    EXPECT_TRUE(waitUntil([&view] { return view.newProfileSheet() == nullptr; }));
}

TEST_F(SheetsTest, WelcomeWithoutClaudeDesktopOnlyPointsToTheDownload)
{
    removeClaude();
    openWindow();
    WelcomeView& sheet = welcome();
    EXPECT_EQ(sheet.width(), 620);
    EXPECT_TRUE(sheet.installNotice()->isVisible());
    EXPECT_EQ(sheet.installNotice()->text(),
        "Install Claude Desktop in /Applications first (https://claude.ai/download), then reopen this app.");
    EXPECT_FALSE(sheet.choices()->isVisible() || sheet.primaryButton()->isEnabled());
    EXPECT_TRUE(sheet.notNowButton()->isEnabled());
    screenshot(sheet, "welcome-without-claude");
}

TEST_F(SheetsTest, WelcomeWithoutDataOffersOnlyANewAccountCalledWorkWhenLeftBlank)
{
    openWindow();
    WelcomeView& sheet = welcome();
    EXPECT_FALSE(sheet.installNotice()->isVisible());
    EXPECT_FALSE(sheet.importCard()->isVisible());
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
    ASSERT_TRUE(sheet.primaryButton()->isEnabled());
    sheet.primaryButton()->click();
    createdIs("Work", ProfileColor::Purple);
    EXPECT_FALSE(std::filesystem::exists(paths.dataDir(model->profiles()[0].id) / "Local State")) << "nothing copied";
}

TEST_F(SheetsTest, ImportWaitsUntilClaudeHasQuitThenCopiesTheData)
{
    writeText(paths.originalDataDir / "Local State", "{}");
    writeText(paths.originalDataDir / "config.json", "{}");
    const auto claude = fake.workspace.launch(std::string(StandInClaude::bundleIdentifier));
    ContentView& view = openWindow();
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
    EXPECT_TRUE(sheet.quitClaudeRow()->isVisible());
    EXPECT_FALSE(sheet.primaryButton()->isEnabled());
    EXPECT_EQ(sheet.importFields()->nameField()->text(), "Personal");
    EXPECT_EQ(sheet.importFields()->color(), ProfileColor::Orange);
    screenshot(sheet, "welcome-import-claude-running");
    sheet.quitClaudeButton()->click();
    EXPECT_EQ(claude->terminateRequests, 1);
    fake.workspace.quit(claude);
    EXPECT_TRUE(sheet.primaryButton()->isEnabled()) << "enabled again as the running applications change";
    EXPECT_FALSE(sheet.quitClaudeRow()->isVisible());

    sheet.importFields()->nameField()->setText("   ");
    QTest::keyClick(&sheet, Qt::Key_Return);
    EXPECT_TRUE(sheet.isWorking());
    EXPECT_FALSE(sheet.notNowButton()->isEnabled());
    EXPECT_FALSE(sheet.primaryButton()->isEnabled());
    createdIs("Personal", ProfileColor::Orange);
    EXPECT_TRUE(std::filesystem::exists(paths.dataDir(model->profiles()[0].id) / "Local State")) << "imported";
    EXPECT_TRUE(model->didCompleteWelcome());
    EXPECT_TRUE(waitUntil([&view] { return view.welcomeView() == nullptr; }));
}

TEST_F(SheetsTest, NotNowClosesTheWelcomeForGoodAndEscapeDoesNothing)
{
    ContentView& view = openWindow();
    WelcomeView& sheet = welcome();
    QTest::keyClick(&sheet, Qt::Key_Escape);
    sheet.close();
    spin();
    EXPECT_TRUE(sheet.isVisible()) << "only its own buttons close the welcome";
    EXPECT_TRUE(model->showWelcome());

    sheet.notNowButton()->click();
    EXPECT_TRUE(model->didCompleteWelcome());
    EXPECT_TRUE(waitUntil([&view] { return view.welcomeView() == nullptr; }));
    EXPECT_TRUE(model->profiles().empty());
}

} // namespace
} // namespace korvel::test
