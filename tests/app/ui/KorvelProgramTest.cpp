// The Korvel program itself, started for real in a sandbox home (without a display: Qt's offscreen platform): a
// second start hands its request to the first one and ends, and a claude:// link handed over that way reaches
// Claude Desktop — here the stand-in, which records how it was started.

#include "tests/app/cli/KorvelHome.hpp"
#include "tests/support/BackgroundProcess.hpp"
#include "tests/support/StandInRecord.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace korvel::test {
namespace {

TEST(KorvelProgramTest, ASecondStartHandsItsLinksToTheRunningKorvel)
{
    KorvelHome home;
    const std::filesystem::path record = home.temp / "claude-record.txt";
    home.environment["KORVEL_STANDIN_RECORD"] = record.string();
    const auto korvel = KorvelHome::applicationProgram();
    BackgroundProcess first(korvel, {.arguments = {"Korvel"}, .environment = home.environment});
    // Whoever takes the single-instance lock first is the running Korvel: let this one get there first.
    ASSERT_TRUE(KorvelHome::eventually([&home] { return std::filesystem::exists(home.socketPath()); }))
        << "Korvel did not start listening";
    EXPECT_EQ(home.run(korvel, {"Korvel"}), KorvelHome::succeeded) << "a second start only shows the first";
    EXPECT_FALSE(first.hasExited());

    // Routing is off: the running Korvel sends the link on to Claude Desktop.
    const std::string link = "claude://claude.ai/new?q=from the desktop";
    EXPECT_EQ(home.run(korvel, {"Korvel", link}), KorvelHome::succeeded);
    ASSERT_TRUE(KorvelHome::eventually([&record] { return !StandInRecord::readAll(record).empty(); }));
    EXPECT_THAT(StandInRecord::readOne(record).arguments, ::testing::Contains(link));
    EXPECT_FALSE(first.hasExited()) << "Korvel keeps running";
}

} // namespace
} // namespace korvel::test
