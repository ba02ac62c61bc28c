#include "core/building/Wording.hpp"
#include "tests/support/ScopedEnvironment.hpp"

#include <gtest/gtest.h>

namespace korvel::test {
namespace {

// Every Linux wording is free of the macOS names it replaces, and the texts about a missing Claude Desktop say
// where Korvel looked.
TEST(WordingTest, LinuxTextsNameNoMacPartsAndSayWhereKorvelLooked)
{
    using Text = Wording::Text;
    const ScopedEnvironment claude("KORVEL_CLAUDE_APP", "/opt/Claude");
    for (const auto& [text, looked] :
        std::vector<std::pair<Text, bool>> {{Text::WelcomeSubtitle, false}, {Text::OwnAppStep, false},
            {Text::OwnAppEmptyState, false}, {Text::ShowAppInFileViewer, false}, {Text::DeletedDataLeaves, false},
            {Text::SignInTip, false}, {Text::SafeStorageTip, false}, {Text::AutoUpdateFooter, false},
            {Text::ClaudeMissingWarning, true}, {Text::ClaudeMissingSummary, true}, {Text::InstallClaudeFirst, true}}) {
        const std::string onLinux = Wording::text(text, Wording::Desktop::Linux);
        const std::string macOS = Wording::text(text, Wording::Desktop::MacOS);
        EXPECT_NE(onLinux, macOS);
        for (const char* word : {"Mac", "Dock", "Finder", "keychain", "Apple", "/Applications"})
            EXPECT_EQ(onLinux.find(word), std::string::npos) << onLinux;
        EXPECT_EQ(onLinux.find("/opt/Claude") != std::string::npos, looked) << onLinux;
        EXPECT_EQ(Wording::text(text), onLinux) << "this build is for Linux";
    }
}

} // namespace
} // namespace korvel::test
