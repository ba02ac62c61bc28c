#include "core/model/ProfileStore.hpp"
#include "core/model/AppPaths.hpp"
#include "core/model/ClaudeInstall.hpp"
#include "core/support/FileError.hpp"
#include "tests/support/DeepNesting.hpp"
#include "tests/support/Fifo.hpp"
#include "tests/support/ScopedEnvironment.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/Thrown.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace korvel;
using namespace korvel::test;
using nlohmann::json;

namespace {

Profile work()
{
    return Profile {*Uuid::parse("0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D"), "Work", ProfileColor::Orange,
        *Timestamp::parseIso8601("2026-12-05T16:05:19Z")};
}

// A file with one sound profile whose `key` is changed to `value`, or left out for null.
std::string withField(const std::string& key, const json& value)
{
    json profile = {{"id", "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D"}, {"name", "W"}, {"color", "red"},
        {"createdAt", "2026-12-05T16:05:19Z"}};
    if (value.is_null())
        profile.erase(key);
    else
        profile[key] = value;
    return json {{"version", 1}, {"profiles", {profile}}}.dump();
}

} // namespace

TEST(ProfileStore, WritesTheDocumentedBytesIntoANewFolder)
{
    TempDir dir;
    ProfileStore store(dir / "deep/er/profiles.json");
    store.save({work()});
    EXPECT_EQ(readText(store.fileURL), R"({
  "profiles" : [
    {
      "color" : "orange",
      "createdAt" : "2026-12-05T16:05:19Z",
      "id" : "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D",
      "name" : "Work"
    }
  ],
  "version" : 1
})");
    Profile odd = work();
    odd.name = "a/b \"q\" Émile\n\t";
    EXPECT_NE(ProfileStore::encode({odd}).find(R"("name" : "a\/b \"q\" Émile\n\t")"), std::string::npos);
}

TEST(ProfileStore, RoundTripsInOrderTruncatesFractionsAndReadsAnyLayout)
{
    TempDir dir;
    ProfileStore store(dir / "profiles.json");
    EXPECT_TRUE(store.load().empty());
    EXPECT_FALSE(std::filesystem::exists(store.fileURL)) << "load must not create the file";

    // Brackets inside a string do not nest.
    Profile second {Uuid::random(), "a/b \"q\" Ünïcødé 東京\n\\\"" + std::string(600, '['), ProfileColor::Graphite,
        Timestamp {1'800'000'000}};
    Profile fractional = work();
    fractional.createdAt.secondsSince1970 += 0.75;
    store.save({second, fractional});
    EXPECT_EQ(store.load(), (std::vector<Profile> {second, work()}));
    store.save({});
    EXPECT_TRUE(store.load().empty());

    // Other writers' layout, key order, extra keys, lower-case IDs and time zones.
    writeText(store.fileURL, R"({"extra":[1,2],"profiles":[{"name":"Work","extra":true,
        "id":"0b5a1f3c-7d2e-4c61-9a8b-3e4f5a6b7c8d","color":"orange","createdAt":"2026-12-05T17:05:19+01:00"}],"version":2})");
    EXPECT_EQ(store.load(), std::vector<Profile> {work()});
}

TEST(ProfileStore, AnEntryThatDoesNotDecodeIsLeftOutAndNamedAndAFileThatDoesNotFailsWhole)
{
    // An entry's fault → how it is named; the sound entry after it still reads.
    const std::vector<std::pair<std::string, std::string>> entries = {
        {withField("createdAt", nullptr), "profile 1 (“W”): missing key “createdAt”"},
        {withField("id", "nope"), "profile 1 (“W”): “nope” is not a UUID"},
        {withField("color", "Orange"), "profile 1 (“W”): “Orange” is not a colour"},
        {withField("createdAt", "2026-12-05T16:05:19.5Z"),
            "profile 1 (“W”): “2026-12-05T16:05:19.5Z” is not an ISO 8601 date with whole seconds and a time zone"},
        {withField("createdAt", "2026-12-05T16:05:19"),
            "profile 1 (“W”): “2026-12-05T16:05:19” is not an ISO 8601 date with whole seconds and a time zone"},
        {withField("name", 3), "profile 1: “name” is not a string"},
        {R"({"version": 1, "profiles": [7]})", "profile 1: not an object"},
    };
    const std::string sound = ProfileStore::encode({work()});
    for (const auto& [text, named] : entries) {
        json file = json::parse(text);
        file["profiles"].push_back(json::parse(sound)["profiles"][0]);
        TempDir dir;
        writeText(dir / "profiles.json", file.dump());
        const ProfileStore store(dir / "profiles.json");
        const ProfileStore::Contents contents = store.read();
        EXPECT_EQ(contents.profiles, std::vector<Profile> {work()}) << named;
        EXPECT_EQ(contents.leftOut, std::vector<std::string> {named});
        // A writer never drops what it could not read.
        const auto refused = thrown<FileError>([&] { store.update([](std::vector<Profile>&) {}); });
        EXPECT_NE(std::string(refused.what()).find(named), std::string::npos) << refused.what();
        EXPECT_EQ(readText(dir / "profiles.json"), file.dump()) << named;
    }

    const std::vector<std::pair<std::string, std::string>> cases = {
        {"not json", "{"},
        {"top level array", "[]"},
        {"missing version", R"({"profiles": []})"},
        {"fractional version", R"({"version": 1.5, "profiles": []})"},
        {"profiles not an array", R"({"version": 1, "profiles": {}})"},
    };
    for (const auto& [what, text] : cases) {
        TempDir dir;
        writeText(dir / "profiles.json", text);
        const auto error = thrown<FileError>([&] { ProfileStore(dir / "profiles.json").load(); });
        EXPECT_EQ(error.kind(), FileError::Kind::ReadCorrupt) << what;
        EXPECT_NE(std::string(error.what()).find((dir / "profiles.json").string()), std::string::npos) << what;
        EXPECT_EQ(readText(dir / "profiles.json"), text) << what;
    }
    TempDir dir;
    Fifo::make(dir / "profiles.json");
    EXPECT_TRUE(Fifo::readsWithoutWaiting(dir / "profiles.json", [&] {
        const auto error = thrown<FileError>([&] { ProfileStore(dir / "profiles.json").load(); });
        EXPECT_EQ(error.path(), dir / "profiles.json");
    }));
    const auto deep = thrown<FileError>([] { ProfileStore::decode(DeepNesting::json(100000), "/x/profiles.json"); });
    EXPECT_NE(std::string(deep.what()).find("nested more than"), std::string::npos) << deep.what();
    const auto deepest = thrown<FileError>([] { ProfileStore::decode(DeepNesting::json(500), "/x/profiles.json"); });
    EXPECT_NE(std::string(deepest.what()).find("missing key “version”"), std::string::npos) << deepest.what();
    const auto missing = thrown<FileError>([] { ProfileStore::decode(R"({"profiles": []})", "/x/profiles.json"); });
    EXPECT_NE(std::string(missing.what()).find("“version”"), std::string::npos) << missing.what();
}

TEST(AppPaths, LiveFollowsTheXdgEnvironmentAndDerivesTheProfileFolders)
{
    ScopedEnvironment env("HOME", "/home/ada");
    env.set("XDG_DATA_HOME", "/x/data");
    env.set("XDG_CONFIG_HOME", "/x/config");
    env.set("KORVEL_CLAUDE_APP", "/opt/Claude.app");
    EXPECT_EQ(AppPaths::live(),
        AppPaths("/x/data/Korvel", "/home/ada/Applications/Claude Profiles", "/opt/Claude.app", "/x/config/Claude"));
    env.set("XDG_DATA_HOME", std::nullopt);
    env.set("XDG_CONFIG_HOME", "relative/is/ignored");
    env.set("KORVEL_CLAUDE_APP", std::nullopt);
    const AppPaths paths = AppPaths::live();
    EXPECT_EQ(paths,
        AppPaths("/home/ada/.local/share/Korvel", "/home/ada/Applications/Claude Profiles", ClaudeInstall::find(),
            "/home/ada/.config/Claude"));

    Profile slash = work();
    slash.name = "/";
    const std::string folder = "/home/ada/.local/share/Korvel/Profiles/0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D";
    EXPECT_EQ(paths.profilesFile(), "/home/ada/.local/share/Korvel/profiles.json");
    EXPECT_EQ(paths.dataDir(slash.id), folder + "/Data");
    EXPECT_EQ(paths.claudeCodeConfigDir(slash.id), folder + "/ClaudeCode");
    EXPECT_EQ(paths.appURL(slash), "/home/ada/Applications/Claude Profiles/Claude -.app");
}
