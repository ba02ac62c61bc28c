#include "core/model/Profile.hpp"

#include <gtest/gtest.h>

#include <unordered_set>

using namespace korvel;

namespace {

Profile named(std::string name)
{
    return Profile {*Uuid::parse("0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D"), std::move(name), ProfileColor::Orange,
        Timestamp {1'700'000'000}};
}

} // namespace

TEST(Uuid, ParsesCanonicalFormInEitherCaseAndPrintsBoth)
{
    const auto upper = Uuid::parse("0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D");
    const auto lower = Uuid::parse("0b5a1f3c-7d2e-4c61-9a8b-3e4f5a6b7c8d");
    ASSERT_TRUE(upper && lower);
    EXPECT_EQ(*upper, *lower);
    EXPECT_EQ(upper->toString(), "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D");
    EXPECT_EQ(upper->lowerString(), "0b5a1f3c-7d2e-4c61-9a8b-3e4f5a6b7c8d");
}

TEST(Uuid, RejectsAnythingButTheCanonicalForm)
{
    for (const char* bad : {"", "0B5A1F3C7D2E4C619A8B3E4F5A6B7C8D", "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8",
             "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D0", "{0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D}",
             "0B5A1F3C-7D2E-4C61-9A8B_3E4F5A6B7C8D", "GB5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D"})
        EXPECT_FALSE(Uuid::parse(bad)) << bad;
}

TEST(Uuid, RandomIsVersionFourAndDistinct)
{
    std::unordered_set<Uuid> seen;
    for (int i = 0; i < 200; ++i) {
        const Uuid id = Uuid::random();
        EXPECT_EQ(id.toString()[14], '4');
        EXPECT_NE(std::string("89AB").find(id.toString()[19]), std::string::npos);
        EXPECT_EQ(Uuid::parse(id.toString()), id);
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST(ProfileColor, RawValuesAreExactAndOrdered)
{
    const char* expected[] = {
        "orange", "red", "pink", "purple", "indigo", "blue", "teal", "green", "yellow", "graphite"};
    ASSERT_EQ(ProfileColor::allCases().size(), 10u);
    for (size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(ProfileColor::allCases()[i].rawValue(), expected[i]);
        EXPECT_EQ(ProfileColor::fromRawValue(expected[i]), ProfileColor::allCases()[i]);
    }
    EXPECT_FALSE(ProfileColor::fromRawValue("Graphite"));
    EXPECT_FALSE(ProfileColor::fromRawValue(" red"));
    EXPECT_EQ(ProfileColor(ProfileColor::Graphite).displayName(), "Graphite");
    EXPECT_EQ(ProfileColor(ProfileColor::Teal).rgb(), (Rgb {0.10, 0.62, 0.66}));
    EXPECT_EQ(ProfileColor(ProfileColor::Yellow).rgb(), (Rgb {0.90, 0.68, 0.10}));
}

TEST(Profile, SafeNameReplacesSeparatorsAndTrimsEnds)
{
    EXPECT_EQ(named("/").safeName(), "-");
    EXPECT_EQ(named("  ..  ").safeName(), "Profile");
    EXPECT_EQ(named("  ..  ").appDisplayName(), "Claude Profile");
    EXPECT_EQ(named("a/b:c").safeName(), "a-b-c");
    EXPECT_EQ(named(".hidden.").safeName(), "hidden");
    EXPECT_EQ(named("Team  A").safeName(), "Team  A");
    EXPECT_EQ(named("Work").appDisplayName(), "Claude Work");
    EXPECT_EQ(named("a/b").appDisplayName(), named("a:b").appDisplayName());
    // Unicode white space at the ends: NBSP, NEL, line separator, ideographic space; inner kept.
    EXPECT_EQ(named("\u00A0\u0085Work\u2028\u3000").safeName(), "Work");
    EXPECT_EQ(named("Wo\u00A0rk.").safeName(), "Wo\u00A0rk");
    EXPECT_EQ(named("").safeName(), "Profile");
}

TEST(Profile, LetterIsFirstLetterOrNumberUpperCased)
{
    EXPECT_EQ(named("work").letter(), "W");
    EXPECT_EQ(named("   (2nd) team").letter(), "2");
    EXPECT_EQ(named("\U0001F600Émile").letter(), "É");
    EXPECT_EQ(named("---").letter(), "?");
    EXPECT_EQ(named("").letter(), "?");
    EXPECT_EQ(named("!!!").letter(), "?");
    EXPECT_EQ(named("éclair").letter(), "É");
    EXPECT_EQ(named("ßeta").letter(), "SS");
    EXPECT_EQ(named("ǆungla").letter(), "Ǆ");
    // e + combining acute is one character and keeps its accent.
    EXPECT_EQ(named("e\u0301te").letter(), "E\u0301");
    // Emoji with skin tone and ZWJ sequences are skipped as whole clusters.
    EXPECT_EQ(named("\U0001F44D\U0001F3FD\U0001F469\u200D\U0001F4BBanna").letter(), "A");
    EXPECT_EQ(named("λόγος").letter(), "Λ");
    EXPECT_EQ(named("жук").letter(), "Ж");
    EXPECT_EQ(named("東京").letter(), "東");
    EXPECT_EQ(named("\u3000\u2028 7").letter(), "7");
}

TEST(Profile, BundleIdentifierRoundTripsAndRejectsOthers)
{
    const Profile profile = named("Work");
    EXPECT_EQ(profile.bundleIdentifier(), "com.veldrane.Korvel.profile.0b5a1f3c-7d2e-4c61-9a8b-3e4f5a6b7c8d");
    EXPECT_EQ(Profile::profileIDFromBundleIdentifier(profile.bundleIdentifier()), profile.id);
    EXPECT_EQ(
        Profile::profileIDFromBundleIdentifier("com.veldrane.Korvel.profile.0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D"),
        profile.id);
    EXPECT_FALSE(Profile::profileIDFromBundleIdentifier("com.veldrane.Korvel.profile."));
    EXPECT_FALSE(Profile::profileIDFromBundleIdentifier(profile.bundleIdentifier() + "x"));
    EXPECT_FALSE(Profile::profileIDFromBundleIdentifier("com.anthropic.claudefordesktop"));
    EXPECT_FALSE(
        Profile::profileIDFromBundleIdentifier("COM.veldrane.Korvel.profile.0b5a1f3c-7d2e-4c61-9a8b-3e4f5a6b7c8d"));
}

TEST(Profile, EqualityAndHashCoverAllFields)
{
    const Profile a = named("Work");
    Profile b = a;
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<Profile>()(a), std::hash<Profile>()(b));
    b.createdAt.secondsSince1970 += 0.25;
    EXPECT_NE(a, b);
    b = a;
    b.name = "work";
    EXPECT_NE(a, b);
    b = a;
    b.color = ProfileColor::Red;
    EXPECT_NE(a, b);
    EXPECT_NE(std::hash<Profile>()(a), std::hash<Profile>()(b));
}
