#include "core/model/ProfileStore.hpp"
#include "core/support/FileError.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

using namespace korvel;
using korvel::test::readText;
using korvel::test::TempDir;
using korvel::test::writeText;

namespace {

Profile work()
{
    return Profile {*Uuid::parse("0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D"), "Work", ProfileColor::Orange,
        *Timestamp::parseIso8601("2026-12-05T16:05:19Z")};
}

const char* const exampleFile = R"({
  "profiles" : [
    {
      "color" : "orange",
      "createdAt" : "2026-12-05T16:05:19Z",
      "id" : "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D",
      "name" : "Work"
    }
  ],
  "version" : 1
})";

std::string withProfile(const std::string& fields)
{
    return R"({"version": 1, "profiles": [{)" + fields + "}]}";
}

const std::string goodFields =
    R"("id": "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D", "name": "Work", "color": "orange", "createdAt": "2026-12-05T16:05:19Z")";

} // namespace

TEST(ProfileStore, WritesTheDocumentedBytes)
{
    TempDir dir;
    ProfileStore store(dir / "deep/er/profiles.json");
    store.save({work()});
    EXPECT_EQ(readText(store.fileURL), exampleFile);
}

TEST(ProfileStore, EscapesSlashesAndKeepsUnicode)
{
    Profile profile = work();
    profile.name = "a/b \"q\" Émile\n\t";
    const std::string text = ProfileStore::encode({profile});
    EXPECT_NE(text.find(R"("name" : "a\/b \"q\" Émile\n\t")"), std::string::npos) << text;
    EXPECT_EQ(ProfileStore::decode(text, "x").front(), profile);
}

TEST(ProfileStore, RoundTripsInOrderAndTruncatesFractions)
{
    TempDir dir;
    ProfileStore store(dir / "profiles.json");
    EXPECT_TRUE(store.load().empty());
    EXPECT_FALSE(std::filesystem::exists(store.fileURL)) << "load must not create the file";

    Profile second {Uuid::random(), "Ünïcødé 東京", ProfileColor::Graphite, Timestamp {1'800'000'000}};
    store.save({second, work()});
    EXPECT_EQ(store.load(), (std::vector<Profile> {second, work()}));

    Profile fractional = work();
    fractional.createdAt.secondsSince1970 += 0.75;
    store.save({fractional});
    const auto loaded = store.load();
    EXPECT_NE(loaded.front(), fractional);
    EXPECT_EQ(loaded.front(), work());

    store.save({});
    EXPECT_TRUE(store.load().empty());
    EXPECT_NE(readText(store.fileURL).find("\"version\" : 1"), std::string::npos);
}

TEST(ProfileStore, ReadersAcceptAnyLayoutAndExtraKeys)
{
    TempDir dir;
    writeText(dir / "profiles.json",
        R"({"extra":[1,2],"profiles":[{"name":"Work","extra":true,"id":"0b5a1f3c-7d2e-4c61-9a8b-3e4f5a6b7c8d",
                 "color":"orange","createdAt":"2026-12-05T17:05:19+01:00"}],"version":2})");
    EXPECT_EQ(ProfileStore(dir / "profiles.json").load(), std::vector<Profile> {work()});
}

TEST(ProfileStore, StrictReadingFailsTheWholeFileAndLeavesItAlone)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"not json", "{"},
        {"top level array", "[]"},
        {"missing version", R"({"profiles": []})"},
        {"missing profiles", R"({"version": 1})"},
        {"fractional version", R"({"version": 1.5, "profiles": []})"},
        {"string version", R"({"version": "1", "profiles": []})"},
        {"missing key", withProfile(R"("id": "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D", "name": "W", "color": "red")")},
        {"bad uuid", withProfile(R"("id": "nope", "name": "W", "color": "red", "createdAt": "2026-12-05T16:05:19Z")")},
        {"capitalised colour", withProfile(R"("id": "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D", "name": "W",
             "color": "Orange", "createdAt": "2026-12-05T16:05:19Z")")},
        {"fractional seconds", withProfile(R"("id": "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D", "name": "W",
             "color": "red", "createdAt": "2026-12-05T16:05:19.5Z")")},
        {"no time zone", withProfile(R"("id": "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D", "name": "W",
             "color": "red", "createdAt": "2026-12-05T16:05:19")")},
        {"name not a string", withProfile(R"("id": "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D", "name": 3,
             "color": "red", "createdAt": "2026-12-05T16:05:19Z")")},
    };
    for (const auto& [what, text] : cases) {
        TempDir dir;
        // One good profile first: nothing may be returned in part.
        const std::string content = text;
        writeText(dir / "profiles.json", content);
        try {
            ProfileStore(dir / "profiles.json").load();
            ADD_FAILURE() << what << " was accepted";
        } catch (const FileError& error) {
            EXPECT_EQ(error.kind(), FileError::Kind::ReadCorrupt) << what;
            EXPECT_NE(std::string(error.what()).find((dir / "profiles.json").string()), std::string::npos);
        }
        EXPECT_EQ(readText(dir / "profiles.json"), content) << what;
    }
    EXPECT_NO_THROW(ProfileStore::decode(withProfile(goodFields), "x"));
}

TEST(ProfileStore, ErrorsNameTheMissingKey)
{
    try {
        ProfileStore::decode(R"({"profiles": []})", "/x/profiles.json");
        FAIL();
    } catch (const FileError& error) {
        EXPECT_NE(std::string(error.what()).find("“version”"), std::string::npos) << error.what();
    }
}

TEST(ProfileStore, FailedSaveKeepsThePreviousFileAndLeavesNoTemporary)
{
    TempDir dir;
    ProfileStore store(dir / "profiles.json");
    store.save({work()});
    const std::string before = readText(store.fileURL);

    // The target replaced by a non-empty folder: the rename fails, even for root.
    TempDir other;
    ProfileStore blocked(other / "profiles.json");
    std::filesystem::create_directories(other / "profiles.json/inside");
    EXPECT_THROW(blocked.save({work()}), FileError);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(other.path()), {}), 1) << "temporary left behind";

    // A parent that is a file: the folder cannot be created.
    writeText(dir / "file", "x");
    EXPECT_THROW(ProfileStore(dir / "file/profiles.json").save({work()}), FileError);
    EXPECT_EQ(readText(store.fileURL), before);
}

TEST(ProfileStore, MissingSupportFolderIsCreated)
{
    TempDir dir;
    ProfileStore store(dir / "a/b/c/profiles.json");
    store.save({work()});
    EXPECT_EQ(store.load(), std::vector<Profile> {work()});
}
