#include "core/building/CloneStatus.hpp"
#include "core/building/CloneError.hpp"

#include <gtest/gtest.h>

using namespace korvel;

TEST(CloneStatus, SummariesAndNeedsBuild)
{
    EXPECT_EQ(CloneStatus::ready("1.2.3").summary(), "Ready · Claude 1.2.3");
    EXPECT_EQ(CloneStatus::outdated("1.2.3", "1.3.0").summary(), "Update available (1.2.3 → 1.3.0)");
    EXPECT_EQ(CloneStatus::damaged("profile was renamed").summary(), "Needs rebuild: profile was renamed");
    EXPECT_EQ(CloneStatus::sourceMissing().summary(), "Claude Desktop not found in /Applications");
    EXPECT_EQ(CloneStatus::notBuilt().summary(), "App not created yet");

    EXPECT_FALSE(CloneStatus::ready("1").needsBuild());
    EXPECT_FALSE(CloneStatus::sourceMissing().needsBuild());
    EXPECT_TRUE(CloneStatus::outdated("1", "2").needsBuild());
    EXPECT_TRUE(CloneStatus::damaged("x").needsBuild());
    EXPECT_TRUE(CloneStatus::notBuilt().needsBuild());
}

TEST(CloneStatus, EqualityComparesCaseAndEveryString)
{
    EXPECT_EQ(CloneStatus::ready("1"), CloneStatus::ready("1"));
    EXPECT_NE(CloneStatus::ready("1"), CloneStatus::ready("1 "));
    EXPECT_NE(CloneStatus::outdated("1", "2"), CloneStatus::outdated("1", "3"));
    EXPECT_NE(CloneStatus::damaged("1"), CloneStatus::ready("1"));
    EXPECT_EQ(CloneStatus::notBuilt(), CloneStatus::notBuilt());
}

TEST(CloneError, Messages)
{
    EXPECT_STREQ(CloneError::sourceMissing("/Applications/Claude.app").what(),
        "Claude Desktop wasn’t found at /Applications/Claude.app. Install it from https://claude.ai/download "
        "first.");
    EXPECT_STREQ(CloneError::launcherMissing("/K.app/Contents/MacOS/KorvelLauncher").what(),
        "The profile launcher is missing from Korvel (/K.app/Contents/MacOS/KorvelLauncher). Reinstall the "
        "app.");
}
