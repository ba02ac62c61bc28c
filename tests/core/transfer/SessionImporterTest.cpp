#include "core/transfer/SessionImporter.hpp"
#include "core/support/FileCopyBatch.hpp"
#include "core/support/FileError.hpp"
#include "tests/support/DeepNesting.hpp"
#include "tests/support/Fifo.hpp"
#include "tests/support/FileSizeLimit.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/Thrown.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>

using namespace korvel;
using namespace korvel::test;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

using Summary = SessionImporter::Summary;
using Pins = std::vector<std::string>;

const std::string code = "claude-code-sessions", agent = "local-agent-mode-sessions";
const std::string alice = "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D";
const std::string bob = "6f1c2d3e-4a5b-4c6d-8e7f-0a1b2c3d4e5f"; // lower case is an account too

// Claude's data folder, a profile's data folder and that profile's ledger.
struct Sandbox
{
    TempDir dir;
    fs::path source = dir / "Claude";
    fs::path destination = dir / "Profile/Data";
    fs::path ledger = dir / "Profile/session-import.json";
    fs::path config = destination / "claude_desktop_config.json";

    Summary summary() const { return SessionImporter::summary(source, destination, ledger); }
    Summary import() const { return SessionImporter::importSessions(source, destination, ledger); }
    Pins pinsToMerge() const { return SessionImporter::pinsToMerge(source, destination, ledger); }
    std::int64_t mergePins() const { return SessionImporter::mergePins(source, destination, ledger); }
    Pins mcpServersToMerge() const { return SessionImporter::mcpServersToMerge(source, destination, ledger); }
    std::int64_t mergeMcpServers() const { return SessionImporter::mergeMcpServers(source, destination, ledger); }
    json ledgerJson() const { return json::parse(readText(ledger)); }
    json pins() const
    {
        return json::parse(readText(config))["preferences"]["epitaxyPrefs"]["starred-local-code-sessions"];
    }
    // Profile configurations that cannot be read: `merge` fails naming the file and leaves it and the ledger as
    // they are, while `toMerge` still names `pending`.
    void expectUnreadableConfigurationsLeftAlone(
        std::int64_t (Sandbox::*merge)() const, Pins (Sandbox::*toMerge)() const, const Pins& pending) const
    {
        fs::remove(ledger);
        for (const std::string text : {"{\"preferences\": ", "[1, 2]"}) {
            writeText(config, text);
            EXPECT_EQ((this->*toMerge)(), pending);
            const auto error = thrown<FileError>([&] { (this->*merge)(); });
            EXPECT_EQ(error.kind(), FileError::Kind::ReadCorrupt);
            EXPECT_EQ(error.path(), config);
            EXPECT_EQ(readText(config), text);
            EXPECT_FALSE(fs::exists(ledger));
        }
    }
};

std::string configWithPins(const Pins& pins)
{
    return json {{"preferences", {{"epitaxyPrefs", {{"starred-local-code-sessions", pins}}}}}}.dump();
}

} // namespace

TEST(SessionImporter, AccountsAreUuidNamedEntriesAndWithoutSharedOnesNothingHappens)
{
    Sandbox box;
    EXPECT_TRUE(SessionImporter::accounts(box.source).empty());
    writeText(box.source / code / alice / "local_1.json", "");
    writeText(box.source / agent / bob, "a file named like an account counts too");
    for (const char* notAnAccount : {"not-a-uuid", "{0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D}", ".DS_Store"})
        fs::create_directories(box.source / code / notAnAccount);
    fs::create_directories(box.source / "other-folder/11111111-2222-4333-8444-555555555555");
    EXPECT_EQ(SessionImporter::accounts(box.source), (std::set<std::string> {alice, bob}));

    // The profile has none of these accounts: nothing is copied and no ledger is written.
    fs::create_directories(box.destination / code / "no-uuid");
    fs::create_directories(box.destination / agent / "11111111-2222-4333-8444-555555555555");
    EXPECT_EQ(box.import(), (Summary {0, 0}));
    EXPECT_FALSE(fs::exists(box.ledger));
    EXPECT_FALSE(fs::exists(box.destination / code / alice));
}

TEST(SessionImporter, CopiesWhatIsMissingForAccountsTheProfileHasAndRemembersIt)
{
    Sandbox box;
    writeText(box.source / code / alice / "local_1.json", "one");
    writeText(box.source / code / alice / "nested/.deeper/local_2.json", "two");
    writeText(box.source / code / alice / "nested/metadata.txt", "not a session, copied all the same");
    writeText(box.source / agent / alice / "local_3.json", "three");
    writeText(box.source / agent / bob / "local_4.json", "bob never used this profile");
    writeText(box.source / code / "not-an-account/local_5.json", "");
    const fs::path deep = box.source / code / alice / "nested/.deeper/local_2.json";
    ::chmod(deep.c_str(), 0640);
    const struct timespec times[2] = {{1600000000, 123456789}, {1500000000, 987654321}};
    ASSERT_EQ(::utimensat(AT_FDCWD, deep.c_str(), times, 0), 0);
    // alice appears in only one folder of the profile; both folders are searched for her.
    fs::create_directories(box.destination / code / alice);
    ::chmod((box.destination / code / alice).c_str(), 0755);

    EXPECT_EQ(box.summary(), (Summary {3, 4}));
    EXPECT_FALSE(fs::exists(box.ledger)) << "summary never writes";
    EXPECT_EQ(box.import(), (Summary {3, 4}));
    // Copies keep content, mode and times; new folders are private, an existing one keeps its mode.
    EXPECT_EQ(describeTree(box.destination / code / alice).at("nested/.deeper/local_2.json"),
        describeTree(box.source / code / alice).at("nested/.deeper/local_2.json"));
    EXPECT_EQ(modeOf(box.destination / code / alice / "nested/.deeper"), 0700u);
    EXPECT_EQ(modeOf(box.destination / code / alice), 0755u);
    EXPECT_EQ(readText(box.destination / agent / alice / "local_3.json"), "three");
    EXPECT_FALSE(fs::exists(box.destination / agent / bob));
    EXPECT_FALSE(fs::exists(box.destination / code / "not-an-account"));
    const std::string a = "\"claude-code-sessions\\/0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D\\/";
    EXPECT_EQ(readText(box.ledger),
        "{\n  \"files\" : [\n    " + a + "local_1.json\",\n    " + a + "nested\\/.deeper\\/local_2.json\",\n    " + a +
            "nested\\/metadata.txt\",\n"
            "    \"local-agent-mode-sessions\\/0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D\\/local_3.json\"\n"
            "  ],\n  \"pins\" : [\n\n  ]\n}");

    // Deleted in the profile after the import: not brought back.
    fs::remove(box.destination / code / alice / "local_1.json");
    EXPECT_EQ(box.summary(), (Summary {0, 0}));
    EXPECT_EQ(box.import(), (Summary {0, 0}));
    EXPECT_FALSE(fs::exists(box.destination / code / alice / "local_1.json"));

    // New in the source: arrives on the next run; a file that is not a session counts as a file only.
    writeText(box.source / code / alice / "local_6.json", "");
    writeText(box.source / code / alice / "index.db", "");
    EXPECT_EQ(box.import(), (Summary {1, 2}));
}

TEST(SessionImporter, NeverOverwritesNorFollowsLinks)
{
    Sandbox box;
    const fs::path account = box.source / code / alice;
    writeText(account / "local_1.json", "from source");
    writeText(account / "local_2.json", "from source");
    writeText(box.destination / code / alice / "local_1.json", "the profile's own");
    // A dangling link where a file would go is something there too: never written through.
    fs::create_symlink(box.dir / "outside.json", box.destination / code / alice / "local_2.json");
    // Links in the source, to files and folders inside and outside, are neither followed nor copied.
    writeText(box.dir / "elsewhere/local_secret.json", "outside");
    fs::create_symlink(box.dir / "elsewhere/local_secret.json", account / "local_link.json");
    fs::create_directory_symlink(box.dir / "elsewhere", account / "linked-folder");
    fs::create_symlink(account / "local_1.json", account / "local_inside_link.json");
    // A linked folder in the profile's is never written through either, nor is the account folder.
    writeText(account / "project/local_3.json", "3");
    fs::create_directory_symlink(box.dir / "elsewhere", box.destination / code / alice / "project");
    writeText(box.source / code / bob / "local_4.json", "4");
    fs::create_directory_symlink(box.dir / "elsewhere", box.destination / code / bob);
    const auto outside = describeTree(box.dir / "elsewhere");

    EXPECT_THROW(box.import(), FileError);
    EXPECT_EQ(describeTree(box.dir / "elsewhere"), outside);
    EXPECT_EQ(readText(box.destination / code / alice / "local_1.json"), "the profile's own");
    EXPECT_FALSE(fs::exists(box.dir / "outside.json"));
    EXPECT_EQ(std::distance(fs::directory_iterator(box.destination / code / alice), {}), 3);
    EXPECT_EQ(box.ledgerJson()["files"].size(), 2u) << "what is there counts as handled, what failed does not";
    fs::remove(box.destination / code / alice / "local_1.json");
    EXPECT_THROW(box.import(), FileError);
    EXPECT_FALSE(fs::exists(box.destination / code / alice / "local_1.json"));
}

TEST(SessionImporter, AnUnusableLedgerCountsAsEmpty)
{
    Sandbox box;
    writeText(box.source / code / alice / "local_1.json", "");
    fs::create_directories(box.destination / code / alice);
    const std::string key = "\"" + code + "/" + alice + "/local_1.json\"";
    for (const std::string& ledger : {"[" + key + "]", std::string("not json"), R"({"files": [)" + key + R"(, 7]})"}) {
        writeText(box.ledger, ledger);
        EXPECT_EQ(box.summary(), (Summary {1, 1})) << ledger;
    }
    // Element order and duplicates carry no meaning; extra keys are harmless.
    writeText(box.ledger, R"({"pins": [], "extra": 1, "files": [)" + key + ", " + key + "]}");
    EXPECT_EQ(box.summary(), (Summary {0, 0}));
}

TEST(SessionImporter, AFailedCopyIsReportedAfterTheOthersAndTheLedgerKeepsWhatSucceeded)
{
    Sandbox box;
    for (const char* session : {"a/local_1.json", "b/local_2.json", "c/local_3.json"})
        writeText(box.source / code / alice / session, session);
    writeText(box.destination / code / alice / "b", "a file where a folder must go");

    const auto error = thrown<FileError>([&] { box.import(); });
    EXPECT_EQ(error.kind(), FileError::Kind::WriteUnknown);
    EXPECT_EQ(error.errorNumber(), ENOTDIR);
    EXPECT_TRUE(fs::exists(box.destination / code / alice / "a/local_1.json"));
    EXPECT_TRUE(fs::exists(box.destination / code / alice / "c/local_3.json"));
    EXPECT_EQ(box.ledgerJson()["files"].size(), 2u) << "the round still records what it brought over";

    fs::remove(box.destination / code / alice / "b");
    EXPECT_EQ(box.import(), (Summary {1, 1}));
    EXPECT_EQ(box.ledgerJson()["files"].size(), 3u);

    // A ledger that cannot be saved is an error after the copies.
    writeText(box.source / code / alice / "local_4.json", "");
    writeText(box.dir / "blocker", "x");
    EXPECT_THROW(SessionImporter::importSessions(box.source, box.destination, box.dir / "blocker/l.json"), FileError);
    EXPECT_TRUE(fs::exists(box.destination / code / alice / "local_4.json"));
}

TEST(SessionImporter, ACopyThatRunsOutOfSpaceLeavesNoPartOfTheFileAndIsCopiedWholeLater)
{
    Sandbox box;
    const std::string large(200'000, 'x');
    writeText(box.source / code / alice / "local_large.json", large);
    writeText(box.source / code / alice / "local_small.json", "small");
    fs::create_directories(box.destination / code / alice);
    {
        const FileSizeLimit limit(64 * 1024);
        const auto error = thrown<FileError>([&] { box.import(); });
        EXPECT_EQ(error.errorNumber(), EFBIG);
    }
    const fs::path account = box.destination / code / alice;
    EXPECT_EQ(std::distance(fs::directory_iterator(account), {}), 1) << "the small copy, and no temporary file";
    EXPECT_EQ(readText(account / "local_small.json"), "small");
    EXPECT_EQ(box.ledgerJson()["files"], json {code + "/" + alice + "/local_small.json"});
    EXPECT_EQ(box.import(), (Summary {1, 1}));
    EXPECT_EQ(readText(account / "local_large.json"), large);
}

TEST(SessionImporter, AFileNameThatIsNotUtf8IsLeftOutAndNeverSpoilsTheLedger)
{
    Sandbox box;
    const std::string badName = "local_\xff\xfe.json";
    writeText(box.source / code / alice / badName, "bad");
    writeText(box.source / code / alice / "local_1.json", "good");
    fs::create_directories(box.destination / code / alice);

    const Summary counts = box.import();
    EXPECT_EQ(counts.missingSessions, 1);
    EXPECT_EQ(counts.leftOut, std::vector<std::string> {code + "/" + alice + "/" + badName});
    EXPECT_EQ(box.summary().missingFiles, 0) << "left out, not missing";
    EXPECT_EQ(box.ledgerJson()["files"], json {code + "/" + alice + "/local_1.json"}) << "the ledger reads back";
    EXPECT_FALSE(fs::exists(box.destination / code / alice / badName));
}

TEST(SessionImporterPins, MergesPinsOfSessionsTheProfileHasAndKeepsEverythingElse)
{
    Sandbox box;
    for (const char* id : {"local_a", "local_b", "local_d"})
        writeText(box.destination / code / alice / (std::string(id) + ".json"), "");
    writeText(box.destination / agent / alice / "deep/local_e.json", "");
    writeText(box.source / "claude_desktop_config.json",
        configWithPins({"local_a", "local_b", "local_c", "local_d", "local_e", "local_a"}));
    const std::string original = R"({
        "zeta": 1, "alpha": "x/y",
        "big": 18446744073709551615, "negative": -9223372036854775808, "huge": 100000000000000000000,
        "bigger": 123456789012345678901234567890, "real": 0.1, "whole": 1.0, "tiny": 5e-324,
        "large": 1.7976931348623157e308, "exponent": 1E+2, "precise": 0.10000000000000000000001,
        "text": "é 東京 🚀 \u2028 \"quoted\" \\ \u0001", "nothing": null, "flags": [true, false, [], {}],
        "preferences": {"theme": "dark", "nested": {"deep": [1, 2.5, "three"]},
            "epitaxyPrefs": {"other": [1, 2], "starred-local-code-sessions": ["local_b", "local_z"]}}})";
    writeText(box.config, original);

    EXPECT_EQ(box.pinsToMerge(), (Pins {"local_a", "local_d", "local_e", "local_a"}));
    EXPECT_FALSE(fs::exists(box.ledger));
    EXPECT_EQ(box.mergePins(), 3);
    const std::string written = readText(box.config);
    json expected = json::parse(original);
    expected["preferences"]["epitaxyPrefs"]["starred-local-code-sessions"] =
        json {"local_b", "local_z", "local_a", "local_d", "local_e"};
    EXPECT_EQ(json::parse(written), expected);
    // Numbers keep their text; keys are sorted.
    for (const std::string number : {"\"big\" : 18446744073709551615", "\"negative\" : -9223372036854775808",
             "\"huge\" : 100000000000000000000", "\"bigger\" : 123456789012345678901234567890", "\"real\" : 0.1",
             "\"whole\" : 1.0", "\"tiny\" : 5e-324", "\"large\" : 1.7976931348623157e308", "\"exponent\" : 1E+2",
             "\"precise\" : 0.10000000000000000000001", "2.5,"})
        EXPECT_NE(written.find(number), std::string::npos) << number << " in " << written;
    EXPECT_LT(written.find("\"alpha\""), written.find("\"big\""));

    // The ledger remembers the merged and the already starred pins, not the one without a session; with nothing
    // to merge the file is not rewritten.
    EXPECT_EQ(box.ledgerJson()["pins"], (json {"local_a", "local_b", "local_d", "local_e"}));
    EXPECT_EQ(box.mergePins(), 0);
    EXPECT_EQ(readText(box.config), written);

    // A source pin the profile has starred already is remembered all the same: once the user removes it there, it
    // stays removed.
    writeText(box.destination / code / alice / "local_f.json", "");
    writeText(box.source / "claude_desktop_config.json", configWithPins({"local_f"}));
    writeText(box.config, configWithPins({"local_f"}));
    EXPECT_EQ(box.mergePins(), 0);
    writeText(box.config, configWithPins({}));
    EXPECT_EQ(box.mergePins(), 0);
    EXPECT_EQ(box.pins(), json::array());
    writeText(box.source / "claude_desktop_config.json",
        configWithPins({"local_a", "local_b", "local_c", "local_d", "local_e", "local_a"}));

    // A pin the user removes in the profile stays removed; the one without a session arrives with its session.
    writeText(box.config, configWithPins({}));
    writeText(box.destination / code / alice / "local_c.json", "");
    EXPECT_EQ(box.pinsToMerge(), (Pins {"local_c"}));
    EXPECT_EQ(box.mergePins(), 1);
    EXPECT_EQ(box.pins(), (json {"local_c"}));
}

TEST(SessionImporterPins, MisshapenConfigurationsGetThePinsAndUnreadableOnesGiveOrFailNothing)
{
    Sandbox box;
    writeText(box.destination / code / alice / "local_a.json", "");
    // An unusable source configuration has nothing to give.
    for (const std::string config : {"not json", R"(["local_a"])",
             R"({"preferences": {"epitaxyPrefs": {"starred-local-code-sessions": "local_a"}}})"}) {
        writeText(box.source / "claude_desktop_config.json", config);
        EXPECT_TRUE(box.pinsToMerge().empty()) << config;
        EXPECT_EQ(box.mergePins(), 0) << config;
    }
    EXPECT_FALSE(fs::exists(box.config) || fs::exists(box.ledger));

    // A missing or misshapen profile configuration gets the pins; whatever else it holds stays.
    writeText(box.source / "claude_desktop_config.json", configWithPins({"local_a"}));
    EXPECT_EQ(box.mergePins(), 1);
    EXPECT_EQ(json::parse(readText(box.config)), json::parse(configWithPins({"local_a"})));
    for (const std::string config :
        {R"({"preferences": 5, "keep": true})", R"({"preferences": {"epitaxyPrefs": [], "keep": true}})",
            R"({"preferences": {"epitaxyPrefs": {"starred-local-code-sessions": ["local_x", 7]}}})"}) {
        fs::remove(box.ledger);
        writeText(box.config, config);
        EXPECT_EQ(box.mergePins(), 1) << config;
        EXPECT_EQ(box.pins(), (json {"local_a"})) << config;
    }

    box.expectUnreadableConfigurationsLeftAlone(&Sandbox::mergePins, &Sandbox::pinsToMerge, {"local_a"});
}

TEST(SessionImporterMcpServers, EachServerArrivesOnceAndNeverOverOrAfterTheUsersOwn)
{
    Sandbox box;
    const std::string sourceServers = R"({"mcpServers": {
        "files": {"command": "npx", "args": ["-y", "server-files", "/home"], "timeoutMs": 18446744073709551615},
        "git": {"command": "uvx", "args": ["mcp-server-git"]},
        "web": {"url": "https://example.com/mcp", "retries": 1.0}}, "preferences": {"theme": "light"}})";
    writeText(box.source / "claude_desktop_config.json", sourceServers);
    // The profile has its own "git"; everything else in its file is kept, numbers in their own spelling.
    const std::string original =
        R"({"mcpServers": {"git": {"command": "my-git"}}, "big": 123456789012345678901234567890,
        "real": 0.10000000000000000000001, "unknownKey": {"nested": [1, 2.50, null]},
        "preferences": {"epitaxyPrefs": {"starred-local-code-sessions": ["local_a"]}}})";
    writeText(box.config, original);

    EXPECT_EQ(box.mcpServersToMerge(), (Pins {"files", "web"}));
    EXPECT_FALSE(fs::exists(box.ledger));
    EXPECT_EQ(box.mergeMcpServers(), 2);
    const std::string written = readText(box.config);
    json expected = json::parse(original);
    expected["mcpServers"]["files"] = json::parse(sourceServers)["mcpServers"]["files"];
    expected["mcpServers"]["web"] = json::parse(sourceServers)["mcpServers"]["web"];
    EXPECT_EQ(json::parse(written), expected);
    for (const std::string number : {"123456789012345678901234567890", "0.10000000000000000000001", "2.50",
             "18446744073709551615", "\"retries\" : 1.0"})
        EXPECT_NE(written.find(number), std::string::npos) << number << " in " << written;
    EXPECT_EQ(box.ledgerJson()["mcpServers"], (json {"files", "git", "web"})) << "the profile's own git included";

    // Nothing new: the file is not rewritten. What the user removes or changes in the profile stays so, and only a
    // server new to Claude arrives.
    EXPECT_EQ(box.mergeMcpServers(), 0);
    EXPECT_EQ(readText(box.config), written);
    writeText(box.config, R"({"mcpServers": {"web": {"url": "https://mine.example"}}})");
    json withNew = json::parse(sourceServers);
    withNew["mcpServers"]["new"] = {{"command", "new-server"}};
    writeText(box.source / "claude_desktop_config.json", withNew.dump());
    EXPECT_EQ(box.mcpServersToMerge(), (Pins {"new"}));
    EXPECT_EQ(box.mergeMcpServers(), 1);
    EXPECT_EQ(json::parse(readText(box.config))["mcpServers"],
        (json {{"web", {{"url", "https://mine.example"}}}, {"new", {{"command", "new-server"}}}}));
    EXPECT_EQ(box.mergeMcpServers(), 0);
}

TEST(SessionImporterMcpServers, OlderLedgersMisshapenAndUnreadableConfigurations)
{
    Sandbox box;
    // A ledger from before MCP servers keeps its files and pins.
    writeText(box.ledger, R"({"files": ["claude-code-sessions/x/local_a.json"], "pins": ["local_a"]})");
    for (const std::string config : {"not json", R"(["s"])", R"({"mcpServers": ["s"]})", R"({"mcpServers": {}})"}) {
        writeText(box.source / "claude_desktop_config.json", config);
        EXPECT_TRUE(box.mcpServersToMerge().empty()) << config;
        EXPECT_EQ(box.mergeMcpServers(), 0) << config;
    }
    EXPECT_FALSE(fs::exists(box.config));

    writeText(box.source / "claude_desktop_config.json", R"({"mcpServers": {"s": {"command": "s"}}})");
    EXPECT_EQ(box.mergeMcpServers(), 1) << "a missing profile configuration is created";
    EXPECT_EQ(json::parse(readText(box.config)), json::parse(R"({"mcpServers": {"s": {"command": "s"}}})"));
    EXPECT_EQ(box.ledgerJson(),
        json::parse(R"({"files": ["claude-code-sessions/x/local_a.json"], "pins": ["local_a"], "mcpServers": ["s"]})"));

    box.expectUnreadableConfigurationsLeftAlone(&Sandbox::mergeMcpServers, &Sandbox::mcpServersToMerge, {"s"});
}

// Claude's files are anyone's to shape: nesting without end or a named pipe must neither crash nor stall a round.
TEST(SessionImporter, DeepOrSpecialFilesAreUnreadableAndNeverWaitedOn)
{
    Sandbox box;
    writeText(box.source / code / alice / "local_a.json", "");
    writeText(box.destination / code / alice / "local_b.json", "");
    Fifo::make(box.ledger);
    EXPECT_TRUE(Fifo::readsWithoutWaiting(box.ledger, [&] { EXPECT_EQ(box.summary(), (Summary {1, 1})); }));

    const fs::path sourceConfig = box.source / "claude_desktop_config.json";
    writeText(sourceConfig, DeepNesting::json(100000));
    EXPECT_TRUE(box.pinsToMerge().empty());
    fs::remove(sourceConfig);
    Fifo::make(sourceConfig);
    EXPECT_TRUE(Fifo::readsWithoutWaiting(sourceConfig, [&] { EXPECT_TRUE(box.pinsToMerge().empty()); }));
    fs::remove(sourceConfig);

    writeText(sourceConfig, configWithPins({"local_b"}));
    writeText(box.config, DeepNesting::json(100000));
    const auto deep = thrown<FileError>([&] { box.mergePins(); });
    EXPECT_EQ(deep.path(), box.config);
    EXPECT_NE(deep.description().find("nested more than"), std::string::npos) << deep.description();
    fs::remove(box.config);
    Fifo::make(box.config);
    EXPECT_TRUE(Fifo::readsWithoutWaiting(
        box.config, [&] { EXPECT_EQ(thrown<FileError>([&] { box.mergePins(); }).path(), box.config); }));
}

TEST(SessionImporter, ARoundOverMoreFoldersThanItHoldsOpenBringsEverythingAndLeavesNoTemporaryFile)
{
    Sandbox box;
    const size_t folders = FileCopyBatch::maxOpenFolders + 10;
    for (size_t i = 0; i < folders; ++i)
        writeText(box.source / code / alice / ("project-" + std::to_string(i)) / "local_1.json", std::to_string(i));
    fs::create_directories(box.destination / code / alice);

    const auto count = static_cast<std::int64_t>(folders);
    EXPECT_EQ(box.import(), (Summary {count, count}));
    size_t files = 0;
    for (const auto& item : fs::recursive_directory_iterator(box.destination)) {
        EXPECT_NE(item.path().filename().string().front(), '.') << item.path();
        files += item.is_regular_file() ? 1 : 0;
    }
    EXPECT_EQ(files, folders);
    EXPECT_EQ(readText(box.destination / code / alice / "project-7/local_1.json"), "7");
    EXPECT_EQ(box.ledgerJson()["files"].size(), folders);
}
