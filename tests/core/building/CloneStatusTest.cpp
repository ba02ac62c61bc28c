#include "core/building/CloneStatus.hpp"
#include "core/building/CloneError.hpp"

#include <gtest/gtest.h>

using namespace korvel;

TEST(CloneStatus, SummariesAndNeedsBuild)
{
    const std::vector<std::tuple<CloneStatus, std::string, bool>> cases = {
        {CloneStatus::ready("1.2.3"), "Ready · Claude 1.2.3", false},
        {CloneStatus::outdated("1.2.3", "1.3.0"), "Update available (1.2.3 → 1.3.0)", true},
        {CloneStatus::damaged("profile was renamed"), "Needs rebuild: profile was renamed", true},
        {CloneStatus::sourceMissing(), "Claude Desktop not found in /Applications", false},
        {CloneStatus::notBuilt(), "App not created yet", true},
    };
    for (const auto& [status, summary, needsBuild] : cases) {
        EXPECT_EQ(status.summary(), summary);
        EXPECT_EQ(status.needsBuild(), needsBuild) << summary;
    }
    EXPECT_NE(CloneStatus::outdated("1", "2"), CloneStatus::outdated("1", "3"));
    EXPECT_NE(CloneStatus::damaged("1"), CloneStatus::ready("1"));
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
