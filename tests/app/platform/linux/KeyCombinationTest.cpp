#include "app/platform/linux/KeyCombination.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace korvel;
using ::testing::HasSubstr;

TEST(KeyCombinationTest, NamesTheKeyAsTheXServerAndThePortalDo)
{
    struct Case
    {
        const char* text;
        std::uint32_t keysym;
        const char* trigger;
    };
    for (const Case& c : {Case {"Ctrl+Alt+K", 0x6b, "CTRL+ALT+k"}, Case {"Meta+Shift+F12", 0xffc9, "SHIFT+LOGO+F12"},
             Case {"Ctrl+PgDown", 0xff56, "CTRL+Next"}, Case {"Alt+7", 0x37, "ALT+7"},
             Case {"Ctrl+Alt+,", 0x2c, "CTRL+ALT+comma"}, Case {"F9", 0xffc6, "F9"}}) {
        const KeyCombination combination = KeyCombination::parse(c.text);
        EXPECT_EQ(combination.keysym, c.keysym) << c.text;
        EXPECT_EQ(combination.portalTrigger(), c.trigger) << c.text;
    }
}

TEST(KeyCombinationTest, RefusesWhatIsNoSingleCombinationOrWouldTakeAKeyFromEveryProgram)
{
    struct Case
    {
        const char* text;
        const char* reason;
    };
    for (const Case& c :
        {Case {"Ctrl+Alt+K, Ctrl+J", "is not a key combination"}, Case {"Ctrl+Alt+", "is not a key combination"},
            Case {"nonsense", "is not a key combination"}, Case {"Ctrl+Alt+Launch Mail", "choose another key"},
            Case {"Shift+K", "add Ctrl, Alt or Meta"}, Case {"Space", "add Ctrl, Alt or Meta"}}) {
        try {
            KeyCombination::parse(c.text);
            ADD_FAILURE() << c.text << " was accepted";
        } catch (const std::invalid_argument& error) {
            EXPECT_THAT(error.what(), HasSubstr(c.reason)) << c.text;
        }
    }
}
