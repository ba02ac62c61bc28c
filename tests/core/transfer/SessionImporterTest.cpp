#include "core/transfer/SessionImporter.hpp"
#include "core/support/FileError.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>

using namespace korvel;
using korvel::test::modeOf;
using korvel::test::readText;
using korvel::test::TempDir;
using korvel::test::writeText;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

using Summary = SessionImporter::Summary;

const std::string code = "claude-code-sessions";
const std::string agent = "local-agent-mode-sessions";
const std::string alice = "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D";
const std::string bob = "6f1c2d3e-4a5b-4c6d-8e7f-0a1b2c3d4e5f"; // lower case is an account too
const std::string carol = "11111111-2222-4333-8444-555555555555";

// A source data folder, a profile's data folder and that profile's ledger.
struct Sandbox
{
    TempDir dir;
    fs::path source = dir / "Claude";
    fs::path destination = dir / "Profile/Data";
    fs::path ledger = dir / "Profile/session-import.json";

    void add(const fs::path& data, const std::string& relative, const std::string& text = "{}") const
    {
        writeText(data / relative, text);
    }
    void account(const fs::path& data, const std::string& folder, const std::string& id) const
    {
        fs::create_directories(data / folder / id);
    }
    Summary summary() const { return SessionImporter::summary(source, destination, ledger); }
    Summary import() const { return SessionImporter::importSessions(source, destination, ledger); }
    json ledgerJson() const { return json::parse(readText(ledger)); }
};

std::string session(const std::string& folder, const std::string& account, const std::string& name)
{
    return folder + "/" + account + "/" + name;
}

} // namespace

TEST(SessionImporterAccounts, AreUuidNamedEntriesOfBothSessionFolders)
{
    TempDir dir;
    EXPECT_TRUE(SessionImporter::accounts(dir / "missing").empty());
    EXPECT_EQ(SessionImporter::sessionFolders(), (std::vector<std::string> {code, agent}));

    fs::create_directories(dir / code / alice);
    writeText(dir / agent / bob, "a file named like an account counts too");
    fs::create_directories(dir / agent / alice);
    for (const char* notAnAccount :
        {"not-a-uuid", "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8", "{0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D}",
            "0B5A1F3C_7D2E_4C61_9A8B_3E4F5A6B7C8D", "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8DX", ".DS_Store"})
        fs::create_directories(dir / code / notAnAccount);
    fs::create_directories(dir / "other-folder" / carol);

    EXPECT_EQ(SessionImporter::accounts(dir.path()), (std::set<std::string> {alice, bob}));
}

TEST(SessionImporter, CopiesWhatIsMissingForAccountsTheProfileHasAndRemembersIt)
{
    Sandbox box;
    box.add(box.source, session(code, alice, "local_1.json"), "one");
    box.add(box.source, session(code, alice, "nested/deeper/local_2.json"), "two");
    box.add(box.source, session(code, alice, "nested/metadata.txt"), "meta");
    box.add(box.source, session(code, alice, ".hidden/local_3.json"), "three");
    box.add(box.source, session(agent, alice, "local_4.json"), "four");
    box.add(box.source, session(agent, bob, "local_5.json"), "bob's"); // bob never used this profile
    box.add(box.source, session(code, "not-an-account", "local_6.json"));
    // alice appears in only one folder of the profile; both folders are searched for her.
    box.account(box.destination, code, alice);

    EXPECT_EQ(box.summary(), (Summary {4, 5}));
    EXPECT_FALSE(fs::exists(box.ledger)) << "summary never writes";

    EXPECT_EQ(box.import(), (Summary {4, 5}));
    EXPECT_EQ(readText(box.destination / session(code, alice, "nested/deeper/local_2.json")), "two");
    EXPECT_EQ(readText(box.destination / session(code, alice, ".hidden/local_3.json")), "three");
    EXPECT_EQ(readText(box.destination / session(agent, alice, "local_4.json")), "four");
    EXPECT_FALSE(fs::exists(box.destination / agent / bob));
    EXPECT_FALSE(fs::exists(box.destination / code / "not-an-account"));

    EXPECT_EQ(readText(box.ledger),
        "{\n  \"files\" : [\n"
        "    \"claude-code-sessions\\/" +
            alice +
            "\\/.hidden\\/local_3.json\",\n"
            "    \"claude-code-sessions\\/" +
            alice +
            "\\/local_1.json\",\n"
            "    \"claude-code-sessions\\/" +
            alice +
            "\\/nested\\/deeper\\/local_2.json\",\n"
            "    \"claude-code-sessions\\/" +
            alice +
            "\\/nested\\/metadata.txt\",\n"
            "    \"local-agent-mode-sessions\\/" +
            alice +
            "\\/local_4.json\"\n"
            "  ],\n  \"pins\" : [\n\n  ]\n}");

    EXPECT_EQ(box.summary(), (Summary {0, 0}));
    EXPECT_EQ(box.import(), (Summary {0, 0}));

    // Deleted in the profile after the import: not brought back.
    fs::remove(box.destination / session(code, alice, "local_1.json"));
    EXPECT_EQ(box.summary(), (Summary {0, 0}));
    EXPECT_EQ(box.import(), (Summary {0, 0}));
    EXPECT_FALSE(fs::exists(box.destination / session(code, alice, "local_1.json")));

    // A new session in the source arrives on the next run; only a non-session file counts as a file only.
    box.add(box.source, session(code, alice, "local_7.json"));
    box.add(box.source, session(code, alice, "index.db"));
    EXPECT_EQ(box.summary(), (Summary {1, 2}));
    EXPECT_EQ(box.import(), (Summary {1, 2}));
}

TEST(SessionImporter, WithoutAccountsInTheProfileNothingHappensAndNoLedgerIsWritten)
{
    Sandbox box;
    box.add(box.source, session(code, alice, "local_1.json"));
    EXPECT_EQ(box.summary(), (Summary {0, 0}));
    EXPECT_EQ(box.import(), (Summary {0, 0}));
    fs::create_directories(box.destination / code / "no-uuid");
    EXPECT_EQ(box.import(), (Summary {0, 0}));
    EXPECT_FALSE(fs::exists(box.ledger));
    EXPECT_FALSE(fs::exists(box.ledger.parent_path() / "Data" / code / alice));

    // An account without anything in the source: nothing to handle, still no ledger.
    box.account(box.destination, agent, carol);
    EXPECT_EQ(box.import(), (Summary {0, 0}));
    EXPECT_FALSE(fs::exists(box.ledger));
}

TEST(SessionImporter, NeverOverwritesAndRecordsWhatIsAlreadyThere)
{
    Sandbox box;
    box.add(box.source, session(code, alice, "local_1.json"), "from source");
    box.add(box.source, session(code, alice, "local_2.json"), "from source");
    box.add(box.destination, session(code, alice, "local_1.json"), "the profile's own");
    // A dangling link where a file would go is something there too: never written through.
    fs::create_symlink(box.dir / "outside.json", box.destination / session(code, alice, "local_2.json"));

    EXPECT_EQ(box.summary(), (Summary {0, 0}));
    EXPECT_EQ(box.import(), (Summary {0, 0}));
    EXPECT_EQ(readText(box.destination / session(code, alice, "local_1.json")), "the profile's own");
    EXPECT_TRUE(fs::is_symlink(box.destination / session(code, alice, "local_2.json")));
    EXPECT_FALSE(fs::exists(box.dir / "outside.json"));
    EXPECT_EQ(box.ledgerJson()["files"].size(), 2u);

    // Once recorded, the profile's copy can go without the source's coming back.
    fs::remove(box.destination / session(code, alice, "local_1.json"));
    EXPECT_EQ(box.import(), (Summary {0, 0}));
}

TEST(SessionImporter, CopiesKeepModeAndTimesAndNewFoldersArePrivate)
{
    Sandbox box;
    const fs::path file = box.source / session(code, alice, "sub/local_1.json");
    box.add(box.source, session(code, alice, "sub/local_1.json"), "data");
    ::chmod(file.c_str(), 0640);
    const struct timespec times[2] = {{1600000000, 123456789}, {1500000000, 987654321}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    box.account(box.destination, code, alice);
    ::chmod((box.destination / code / alice).c_str(), 0755);

    EXPECT_EQ(box.import(), (Summary {1, 1}));
    const fs::path copy = box.destination / session(code, alice, "sub/local_1.json");
    struct stat info
    { };
    ASSERT_EQ(::stat(copy.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(info.st_mtim.tv_sec, 1500000000);
    EXPECT_EQ(info.st_mtim.tv_nsec, 987654321);
    EXPECT_EQ(info.st_atim.tv_sec, 1600000000);
    EXPECT_EQ(modeOf(copy.parent_path()), 0700u);
    EXPECT_EQ(modeOf(box.destination / code / alice), 0755u) << "an existing folder keeps its mode";
}

TEST(SessionImporter, SymbolicLinksInTheSourceAreNeitherFollowedNorCopied)
{
    Sandbox box;
    writeText(box.dir / "elsewhere/local_secret.json", "outside");
    writeText(box.dir / "elsewhere/inner/local_deep.json", "outside");
    box.add(box.source, session(code, alice, "local_real.json"), "real");
    const fs::path account = box.source / code / alice;
    fs::create_symlink(box.dir / "elsewhere/local_secret.json", account / "local_link.json");
    fs::create_directory_symlink(box.dir / "elsewhere", account / "linked-folder");
    fs::create_symlink(account / "local_real.json", account / "local_inside_link.json");
    fs::create_symlink(box.dir / "nowhere", account / "local_dangling.json");
    box.account(box.destination, code, alice);

    EXPECT_EQ(box.summary(), (Summary {1, 1}));
    EXPECT_EQ(box.import(), (Summary {1, 1}));
    std::vector<std::string> copied;
    for (const auto& entry : fs::recursive_directory_iterator(box.destination))
        copied.push_back(entry.path().lexically_relative(box.destination).string());
    std::sort(copied.begin(), copied.end());
    EXPECT_EQ(copied, (std::vector<std::string> {code, code + "/" + alice, session(code, alice, "local_real.json")}));
}

TEST(SessionImporter, AnUnusableLedgerCountsAsEmpty)
{
    Sandbox box;
    box.add(box.source, session(code, alice, "local_1.json"));
    box.account(box.destination, code, alice);
    ASSERT_EQ(box.import(), (Summary {1, 1}));
    fs::remove(box.destination / session(code, alice, "local_1.json"));

    const std::string key = "\"" + session(code, alice, "local_1.json") + "\"";
    for (const std::string& ledger :
        {std::string(R"({"files": [)") + key + "]}", "[" + key + "]", std::string("not json"),
            R"({"files": [)" + key + R"(, 7], "pins": []})", R"({"files": )" + key + R"(, "pins": []})"}) {
        writeText(box.ledger, ledger);
        EXPECT_EQ(box.summary(), (Summary {1, 1})) << ledger;
    }
    // Element order and duplicates carry no meaning; extra keys are harmless.
    writeText(box.ledger, R"({"pins": [], "extra": 1, "files": [)" + key + ", " + key + "]}");
    EXPECT_EQ(box.summary(), (Summary {0, 0}));

    fs::remove(box.ledger);
    fs::create_directories(box.ledger);
    EXPECT_EQ(box.summary(), (Summary {1, 1}));
}

TEST(SessionImporter, AFailedCopyKeepsEarlierCopiesAndLeavesTheLedgerUnsaved)
{
    Sandbox box;
    box.add(box.source, session(code, alice, "a/local_1.json"), "first");
    box.add(box.source, session(code, alice, "b/local_2.json"), "second");
    box.add(box.source, session(code, alice, "c/local_3.json"), "third");
    box.add(box.destination, session(code, alice, "b"), "a file where a folder must go");

    try {
        box.import();
        FAIL();
    } catch (const FileError& error) {
        EXPECT_EQ(error.kind(), FileError::Kind::WriteUnknown);
        EXPECT_EQ(error.errorNumber(), ENOTDIR);
    }
    EXPECT_EQ(readText(box.destination / session(code, alice, "a/local_1.json")), "first");
    EXPECT_FALSE(fs::exists(box.destination / session(code, alice, "c")));
    EXPECT_FALSE(fs::exists(box.ledger));

    // Once the obstacle is gone, the earlier copy is recorded as present rather than copied again.
    fs::remove(box.destination / session(code, alice, "b"));
    EXPECT_EQ(box.import(), (Summary {2, 2}));
    EXPECT_EQ(box.ledgerJson()["files"].size(), 3u);
}

TEST(SessionImporter, ALedgerThatCannotBeSavedIsAnErrorAfterTheCopies)
{
    Sandbox box;
    box.add(box.source, session(code, alice, "local_1.json"));
    box.account(box.destination, code, alice);
    writeText(box.dir / "blocker", "x");
    EXPECT_THROW(
        SessionImporter::importSessions(box.source, box.destination, box.dir / "blocker/ledger.json"), FileError);
    EXPECT_TRUE(fs::exists(box.destination / session(code, alice, "local_1.json")));

    // Its folder is created, privately, when missing.
    const fs::path deep = box.dir / "new/profile/session-import.json";
    fs::remove(box.destination / session(code, alice, "local_1.json"));
    EXPECT_EQ(SessionImporter::importSessions(box.source, box.destination, deep), (Summary {1, 1}));
    EXPECT_EQ(modeOf(deep.parent_path()), 0700u);
}

// ---- Pins ----

namespace {

json configWithPins(const std::vector<std::string>& pins)
{
    return json {{"preferences", {{"epitaxyPrefs", {{"starred-local-code-sessions", pins}}}}}};
}

json pinsOf(const fs::path& data)
{
    return json::parse(
        readText(data / "claude_desktop_config.json"))["preferences"]["epitaxyPrefs"]["starred-local-code-sessions"];
}

} // namespace

TEST(SessionImporterPins, MergesPinsOfSessionsTheProfileHasAndKeepsEverythingElse)
{
    Sandbox box;
    for (const char* id : {"local_a", "local_b", "local_d"})
        box.add(box.destination, session(code, alice, std::string(id) + ".json"));
    box.add(box.destination, session(agent, alice, "deep/local_e.json"));
    box.add(box.source, "claude_desktop_config.json",
        configWithPins({"local_a", "local_b", "local_c", "local_d", "local_e", "local_a"}).dump());
    const std::string original = R"({
        "zeta": 1, "alpha": "x/y",
        "big": 18446744073709551615, "negative": -9223372036854775808, "huge": 100000000000000000000,
        "real": 0.1, "whole": 1.0, "tiny": 5e-324, "large": 1.7976931348623157e308,
        "text": "é 東京 🚀 \u2028 \"quoted\" \\ \u0001", "nothing": null, "flags": [true, false, [], {}],
        "preferences": {"theme": "dark", "nested": {"deep": [1, 2.5, "three"]},
            "epitaxyPrefs": {"other": [1, 2], "starred-local-code-sessions": ["local_b", "local_z"]}}})";
    box.add(box.destination, "claude_desktop_config.json", original);

    EXPECT_EQ(SessionImporter::pinsToMerge(box.source, box.destination, box.ledger),
        (std::vector<std::string> {"local_a", "local_d", "local_e", "local_a"}));
    EXPECT_FALSE(fs::exists(box.ledger));

    EXPECT_EQ(SessionImporter::mergePins(box.source, box.destination, box.ledger), 3);
    const std::string written = readText(box.destination / "claude_desktop_config.json");
    json expected = json::parse(original);
    expected["preferences"]["epitaxyPrefs"]["starred-local-code-sessions"] =
        json {"local_b", "local_z", "local_a", "local_d", "local_e"};
    EXPECT_EQ(json::parse(written), expected);
    // Numbers keep their kind and value; keys are sorted.
    EXPECT_NE(written.find("\"big\" : 18446744073709551615"), std::string::npos) << written;
    EXPECT_NE(written.find("\"negative\" : -9223372036854775808"), std::string::npos);
    EXPECT_TRUE(json::parse(written)["whole"].is_number_float());
    EXPECT_EQ(json::parse(written)["huge"].get<double>(), 1e20);
    EXPECT_LT(written.find("\"alpha\""), written.find("\"big\""));
    EXPECT_LT(written.find("\"text\""), written.find("\"zeta\""));

    // The ledger remembers the merged and the already-starred pins, not the one without a session.
    EXPECT_EQ(box.ledgerJson()["pins"], (json {"local_a", "local_b", "local_d", "local_e"}));
    EXPECT_TRUE(SessionImporter::pinsToMerge(box.source, box.destination, box.ledger).empty());
    EXPECT_EQ(SessionImporter::mergePins(box.source, box.destination, box.ledger), 0);
    EXPECT_EQ(readText(box.destination / "claude_desktop_config.json"), written);

    // A pin the user removes in the profile stays removed.
    json unpinned = json::parse(written);
    unpinned["preferences"]["epitaxyPrefs"]["starred-local-code-sessions"] = json::array();
    writeText(box.destination / "claude_desktop_config.json", unpinned.dump());
    EXPECT_EQ(SessionImporter::mergePins(box.source, box.destination, box.ledger), 0);
    EXPECT_EQ(pinsOf(box.destination), json::array());

    // The pin without a session arrives once its session has.
    box.add(box.destination, session(code, alice, "local_c.json"));
    EXPECT_EQ(
        SessionImporter::pinsToMerge(box.source, box.destination, box.ledger), (std::vector<std::string> {"local_c"}));
    EXPECT_EQ(SessionImporter::mergePins(box.source, box.destination, box.ledger), 1);
    EXPECT_EQ(pinsOf(box.destination), (json {"local_c"}));
}

TEST(SessionImporterPins, AnAlreadyStarredPinIsRecordedButNotCounted)
{
    Sandbox box;
    box.add(box.destination, session(code, alice, "local_a.json"));
    box.add(box.source, "claude_desktop_config.json", configWithPins({"local_a"}).dump());
    const std::string config = configWithPins({"local_a"}).dump();
    box.add(box.destination, "claude_desktop_config.json", config);

    EXPECT_TRUE(SessionImporter::pinsToMerge(box.source, box.destination, box.ledger).empty());
    EXPECT_EQ(SessionImporter::mergePins(box.source, box.destination, box.ledger), 0);
    EXPECT_EQ(readText(box.destination / "claude_desktop_config.json"), config) << "not rewritten";
    EXPECT_EQ(box.ledgerJson()["pins"], (json {"local_a"}));
}

TEST(SessionImporterPins, AMissingConfigurationIsCreatedAndMisshapenStepsAreReplaced)
{
    Sandbox box;
    box.add(box.destination, session(code, alice, "local_a.json"));
    box.add(box.source, "claude_desktop_config.json", configWithPins({"local_a"}).dump());
    EXPECT_EQ(SessionImporter::mergePins(box.source, box.destination, box.ledger), 1);
    EXPECT_EQ(json::parse(readText(box.destination / "claude_desktop_config.json")), configWithPins({"local_a"}));

    for (const std::string config :
        {R"({"preferences": 5, "keep": true})", R"({"preferences": {"epitaxyPrefs": [], "keep": true}})",
            R"({"preferences": {"epitaxyPrefs": {"starred-local-code-sessions": ["local_x", 7]}}})"}) {
        fs::remove(box.ledger);
        box.add(box.destination, "claude_desktop_config.json", config);
        EXPECT_EQ(SessionImporter::mergePins(box.source, box.destination, box.ledger), 1) << config;
        EXPECT_EQ(pinsOf(box.destination), (json {"local_a"})) << config;
    }
    const json last = json::parse(R"({"preferences": {"epitaxyPrefs": {}, "keep": true}})");
    fs::remove(box.ledger);
    box.add(box.destination, "claude_desktop_config.json", last.dump());
    SessionImporter::mergePins(box.source, box.destination, box.ledger);
    EXPECT_TRUE(
        json::parse(readText(box.destination / "claude_desktop_config.json"))["preferences"]["keep"].get<bool>());
}

TEST(SessionImporterPins, AnUnreadableSourceGivesNothingToMerge)
{
    Sandbox box;
    box.add(box.destination, session(code, alice, "local_a.json"));
    for (const std::string& config :
        {std::string("not json"), std::string("[\"local_a\"]"), std::string(R"({"preferences": {"epitaxyPrefs": {
             "starred-local-code-sessions": ["local_a", null]}}})"),
            std::string(R"({"preferences": {"epitaxyPrefs": {"starred-local-code-sessions": "local_a"}}})"),
            configWithPins({}).dump()}) {
        box.add(box.source, "claude_desktop_config.json", config);
        EXPECT_TRUE(SessionImporter::pinsToMerge(box.source, box.destination, box.ledger).empty()) << config;
        EXPECT_EQ(SessionImporter::mergePins(box.source, box.destination, box.ledger), 0) << config;
    }
    fs::remove(box.source / "claude_desktop_config.json");
    EXPECT_EQ(SessionImporter::mergePins(box.source, box.destination, box.ledger), 0);
    EXPECT_FALSE(fs::exists(box.destination / "claude_desktop_config.json"));
    EXPECT_FALSE(fs::exists(box.ledger));
}

TEST(SessionImporterPins, AnUnreadableDestinationIsAnErrorForMergeOnly)
{
    Sandbox box;
    box.add(box.destination, session(code, alice, "local_a.json"));
    box.add(box.source, "claude_desktop_config.json", configWithPins({"local_a"}).dump());
    const fs::path config = box.destination / "claude_desktop_config.json";
    for (const std::string& text :
        {std::string("{\"preferences\": "), std::string("[1, 2]"), std::string("\"text\"")}) {
        box.add(box.destination, "claude_desktop_config.json", text);
        EXPECT_EQ(SessionImporter::pinsToMerge(box.source, box.destination, box.ledger),
            (std::vector<std::string> {"local_a"}));
        try {
            SessionImporter::mergePins(box.source, box.destination, box.ledger);
            FAIL() << text;
        } catch (const FileError& error) {
            EXPECT_EQ(error.kind(), FileError::Kind::ReadCorrupt);
            EXPECT_EQ(error.path(), config);
        }
        EXPECT_EQ(readText(config), text);
        EXPECT_FALSE(fs::exists(box.ledger));
    }
    fs::remove(config);
    fs::create_directory(config);
    EXPECT_THROW(SessionImporter::mergePins(box.source, box.destination, box.ledger), FileError);
}
