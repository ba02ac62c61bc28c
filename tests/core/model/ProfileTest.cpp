#include "core/model/Profile.hpp"

#include <gtest/gtest.h>

using namespace korvel;

namespace {

using Cases = std::vector<std::pair<std::string, std::string>>;

Profile named(std::string name)
{
    return Profile {*Uuid::parse("0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D"), std::move(name), ProfileColor::Orange,
        Timestamp {1'700'000'000}};
}

} // namespace

TEST(Uuid, ParsesOnlyTheCanonicalFormInEitherCase)
{
    const auto upper = Uuid::parse("0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D");
    ASSERT_TRUE(upper);
    EXPECT_EQ(upper, Uuid::parse("0b5a1f3c-7d2e-4c61-9a8b-3e4f5a6b7c8d"));
    EXPECT_EQ(upper->toString(), "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D");
    EXPECT_EQ(upper->lowerString(), "0b5a1f3c-7d2e-4c61-9a8b-3e4f5a6b7c8d");
    for (const char* bad : {"", "0B5A1F3C7D2E4C619A8B3E4F5A6B7C8D", "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D0",
             "{0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D}", "GB5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D"})
        EXPECT_FALSE(Uuid::parse(bad)) << bad;

    const std::string random = Uuid::random().toString(); // version 4, RFC 4122 variant
    EXPECT_EQ(random[14], '4');
    EXPECT_NE(std::string("89AB").find(random[19]), std::string::npos) << random;
    EXPECT_NE(Uuid::random(), Uuid::random());
}

TEST(ProfileColor, RawValuesAreExactAndOrdered)
{
    std::string raw;
    for (const ProfileColor color : ProfileColor::allCases()) {
        raw += std::string(color.rawValue()) + " ";
        EXPECT_EQ(ProfileColor::fromRawValue(color.rawValue()), color);
    }
    EXPECT_EQ(raw, "orange red pink purple indigo blue teal green yellow graphite ");
    EXPECT_FALSE(ProfileColor::fromRawValue("Graphite"));
}

TEST(Profile, SafeNameReplacesSeparatorsAndTrimsUnicodeSpaceAndDots)
{
    for (const auto& [name, safe] :
        Cases {{"/", "-"}, {"a/b:c", "a-b-c"}, {".hidden.", "hidden"}, {"Team  A", "Team  A"}, {"  ..  ", "Profile"},
            {"", "Profile"}, {"\u00A0\u0085Work\u2028\u3000", "Work"}, {"Wo\u00A0rk.", "Wo\u00A0rk"}})
        EXPECT_EQ(named(name).safeName(), safe) << name;
    EXPECT_EQ(named("a/b").appDisplayName(), "Claude a-b");
    EXPECT_EQ(named("  ..  ").appDisplayName(), "Claude Profile");
}

TEST(Profile, LetterIsTheFirstLetterOrNumberUpperCased)
{
    for (const auto& [name, letter] : Cases {{"work", "W"}, {"   (2nd) team", "2"}, {"---", "?"}, {"", "?"},
             {"\U0001F600Émile", "É"}, {"ßeta", "SS"}, {"ǆungla", "Ǆ"}, {"λόγος", "Λ"}, {"東京", "東"},
             {"\u3000\u2028 7", "7"}, {"e\u0301te", "E\u0301"}, // one character with its accent
             {"\U0001F44D\U0001F3FD\U0001F469\u200D\U0001F4BBanna", "A"}}) // emoji clusters skipped whole
        EXPECT_EQ(named(name).letter(), letter) << name;
}

TEST(Profile, BundleIdentifierRoundTripsAndRejectsOthers)
{
    const Profile profile = named("Work");
    const std::string prefix = "com.veldrane.Korvel.profile.";
    EXPECT_EQ(profile.bundleIdentifier(), prefix + "0b5a1f3c-7d2e-4c61-9a8b-3e4f5a6b7c8d");
    EXPECT_EQ(Profile::profileIDFromBundleIdentifier(profile.bundleIdentifier()), profile.id);
    EXPECT_EQ(Profile::profileIDFromBundleIdentifier(prefix + profile.id.toString()), profile.id);
    for (const std::string& other : {prefix, profile.bundleIdentifier() + "x",
             std::string("com.anthropic.claudefordesktop"), "COM.veldrane.Korvel.profile." + profile.id.lowerString()})
        EXPECT_FALSE(Profile::profileIDFromBundleIdentifier(other)) << other;
}
