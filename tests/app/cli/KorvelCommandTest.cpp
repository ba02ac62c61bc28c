// The real `korvel` program on a headless model of its own (no Korvel running): what each command adds to the
// model — its effect on disk once it has ended, its output, its exit status.

// GIO first: its headers name struct members "signals", which Qt defines as a macro.
#include <gio/gdesktopappinfo.h>

#include "tests/app/cli/KorvelHome.hpp"

#include "core/support/DesktopEntry.hpp"
#include "core/support/FolderSize.hpp"
#include "core/support/UnicodeText.hpp"
#include "core/transfer/ClaudeCodeLauncher.hpp"
#include "core/transfer/DataImporter.hpp"
#include "tests/support/DiskUsage.hpp"
#include "tests/support/StandInClaude.hpp"
#include "tests/support/StandInRecord.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <map>

namespace korvel::test {
namespace {

using Strings = std::vector<std::string>;
using Json = nlohmann::json;

class KorvelCommand : public ::testing::Test, protected KorvelHome
{
protected:
    Result create(const std::string& name, const Strings& options = {})
    {
        Strings arguments {"create", name};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return korvel(arguments);
    }
};

TEST_F(KorvelCommand, CreateBuildsTheAppAndListShowsItForPeopleAndScripts)
{
    EXPECT_EQ(korvel({"list"}), (Result {0, "No profiles yet. “korvel create NAME” makes one.\n", ""}));
    EXPECT_EQ(Json::parse(korvel({"list", "--json"}).output), Json::parse(R"({"profiles": []})"));
    EXPECT_EQ(korvel({"status"}), (Result {0, "No profiles yet.\n", ""}));

    // No progress lines when standard error is not a terminal.
    const Result work = create("Work");
    EXPECT_EQ(work, (Result {0, stored("Work").id.toString() + "\n", ""}));
    EXPECT_TRUE(std::filesystem::is_directory(paths.appsDir / "Claude Work.app"));
    // Without --color, the first colour no profile has yet, as the new-profile sheet offers it.
    ASSERT_EQ(create("Home", {"--color", "Teal"}).status, 0);
    ASSERT_EQ(create("Play").status, 0);
    EXPECT_EQ(stored("Play").color, ProfileColor::Red);

    EXPECT_EQ(korvel({"list"}).output,
        "#  NAME  COLOR   STATUS                APP\n"
        "1  Work  orange  Ready · Claude 1.2.3  Not running\n"
        "2  Home  teal    Ready · Claude 1.2.3  Not running\n"
        "3  Play  red     Ready · Claude 1.2.3  Not running\n");
    const Result listJson = korvel({"list", "--json"});
    ASSERT_EQ(listJson.status, 0);
    const Json json = Json::parse(listJson.output);
    ASSERT_EQ(json["profiles"].size(), 3u);
    EXPECT_EQ(json["profiles"][1],
        Json::parse(R"({"position": 2, "id": ")" + stored("Home").id.toString() + R"(",
        "name": "Home", "color": "teal", "running": false, "active": false, "busy": null,
        "pendingAfterRestart": null, "app": ")" +
            (paths.appsDir / "Claude Home.app").string() + R"(",
        "status": {"kind": "ready", "summary": "Ready · Claude 1.2.3", "needsBuild": false, "version": "1.2.3"}})"));
}

TEST_F(KorvelCommand, RenameRecolorMoveAndDeleteHaveFinishedTheirWorkWhenTheCommandEnds)
{
    for (const char* name : {"A", "B", "Work"})
        ASSERT_EQ(create(name).status, 0);
    EXPECT_EQ(korvel({"rename", "work", "Job"}), succeeded);
    // The rebuild the model started on its own has finished: the app has its new name, the old one is gone.
    EXPECT_EQ(installedApps(), (Strings {"Claude A.app", "Claude B.app", "Claude Job.app"}));
    EXPECT_EQ(korvel({"recolor", "JOB", "GREEN"}), succeeded);
    EXPECT_EQ(appInfo("Claude Job", "KVLAppearance"), "green:J");
    EXPECT_EQ(korvel({"status", "Job"}), (Result {0, "Ready · Claude 1.2.3\n", ""}));

    // Positions count from 1, whichever way the profile moves.
    EXPECT_EQ(korvel({"move", "A", "3"}), succeeded);
    EXPECT_EQ(storedNames(), (Strings {"B", "Job", "A"}));
    ASSERT_EQ(korvel({"move", "A", "2"}).status, 0);
    EXPECT_EQ(storedNames(), (Strings {"B", "A", "Job"}));

    const Profile a = stored("A");
    const Profile b = stored("B");
    EXPECT_EQ(korvel({"delete", "B"}).status, 0);
    EXPECT_EQ(installedApps(), (Strings {"Claude A.app", "Claude Job.app"}));
    EXPECT_TRUE(std::filesystem::is_directory(paths.dataDir(b.id))) << "kept unless asked";
    ASSERT_EQ(korvel({"delete", a.id.toString(), "--trash-data"}).status, 0);
    EXPECT_EQ(storedNames(), Strings {"Job"});
    EXPECT_TRUE(std::filesystem::is_directory(home / ".local/share/Trash/files" / a.id.toString()));
}

// The freedesktop.org checker has nothing to say about `file`, not even a hint.
void expectValid(const std::filesystem::path& file)
{
    const ChildProcess::Result validation =
        ChildProcess::run("/usr/bin/desktop-file-validate", {{"desktop-file-validate", file.string()}});
    EXPECT_EQ(validation.exitStatus, 0);
    EXPECT_EQ(validation.standardOutput + validation.standardError, "") << file;
}

// Right-clicking Korvel in a dock or menu offers every profile, in list order, after every kind of change; the
// entry that lists them hides the installed one, so it keeps all that one says.
TEST_F(KorvelCommand, KorvelsDesktopEntryListsTheProfilesAsActions)
{
    const std::filesystem::path installed = temp / "usr/share";
    writeText(installed / "applications/korvel.desktop",
        "[Desktop Entry]\nType=Application\nName=Korvel\nName[de]=Korvel\nComment=Several Claude accounts side by "
        "side\nExec=/usr/lib/korvel/Korvel.app/Contents/MacOS/Korvel %u\nIcon=korvel\nMimeType=x-scheme-handler/"
        "claude;\nCategories=Utility;\nKeywords=Claude;accounts;\nTerminal=false\n");
    environment["XDG_DATA_DIRS"] = installed.string();
    const std::filesystem::path file = home / ".local/share/applications/korvel.desktop";
    const auto actionNames = [&] {
        expectValid(file);
        g_autoptr(GDesktopAppInfo) info = g_desktop_app_info_new_from_filename(file.c_str());
        if (!info)
            return Strings {"not loaded by GLib"};
        const DesktopEntry entry = DesktopEntry::read(file);
        EXPECT_EQ(entry.value("Exec"), DesktopEntry::execLine({applicationProgram().string()}, "%u"));
        for (const char* key : {"Icon", "Comment", "Categories", "Keywords", "Name[de]"})
            EXPECT_EQ(entry.value(key), DesktopEntry::read(installed / "applications/korvel.desktop").value(key))
                << key;
        Strings names;
        for (const gchar* const* id = g_desktop_app_info_list_actions(info); *id; ++id) {
            g_autofree gchar* name = g_desktop_app_info_get_action_name(info, *id);
            names.emplace_back(name);
            const auto action = std::find_if(entry.actions().begin(), entry.actions().end(),
                [&](const DesktopEntry::Action& a) { return a.id == *id; });
            EXPECT_NE(action, entry.actions().end()) << *id;
            for (const auto& [key, value] : action->entries) {
                if (key == "Exec") {
                    EXPECT_EQ(value, DesktopEntry::execLine({applicationProgram().string(), "open", *id}));
                } else if (key == "Icon") {
                    EXPECT_TRUE(std::filesystem::is_regular_file(value)) << value;
                }
            }
            EXPECT_EQ(action->entries.size(), 3u) << "Name, Icon (the app is built) and Exec";
        }
        for (const Profile& profile : storedProfiles()) {
            const auto own = home / ".local/share/applications" / (profile.bundleIdentifier() + ".desktop");
            expectValid(own);
            const DesktopEntry app = DesktopEntry::read(own);
            EXPECT_TRUE(app.value("Comment") && app.value("Categories")) << profile.name;
        }
        return names;
    };
    const std::vector<std::pair<Strings, Strings>> steps = {
        {{"create", "Work"}, {"Claude Work"}},
        {{"create", "Home"}, {"Claude Work", "Claude Home"}},
        {{"rename", "Home", "Play"}, {"Claude Work", "Claude Play"}},
        {{"move", "Play", "1"}, {"Claude Play", "Claude Work"}},
        {{"delete", "Work"}, {"Claude Play"}},
        {{"delete", "Play"}, {}},
    };
    for (const auto& [command, names] : steps) {
        SCOPED_TRACE(command.front());
        ASSERT_EQ(korvel(command).status, 0);
        EXPECT_EQ(actionNames(), names);
    }
    // The link handler's rewrite of the entry keeps the actions.
    ASSERT_EQ(create("Work").status, 0);
    ASSERT_EQ(korvel({"route-links", "on"}).status, 0);
    EXPECT_EQ(actionNames(), Strings {"Claude Work"});
}

// What deleting throws away, as du -sb counts it: list measures it when asked, delete says it.
TEST_F(KorvelCommand, SizesOfTheDataFolders)
{
    for (const char* name : {"Work", "Home", "Play"})
        ASSERT_EQ(create(name).status, 0);
    const Profile work = stored("Work");
    const Profile home = stored("Home");
    writeText(paths.dataDir(work.id) / "Default/History", std::string(1'234'567, 'h'));
    writeText(paths.dataDir(home.id) / "Local State", "{}");

    EXPECT_FALSE(Json::parse(korvel({"list", "--json"}).output)["profiles"][0].contains("dataSize"));
    const Json listed = Json::parse(korvel({"list", "--json", "--sizes"}).output);
    ASSERT_EQ(listed["profiles"].size(), 3u);
    for (const Json& entry : listed["profiles"])
        EXPECT_EQ(entry["dataSize"], duBytes(paths.dataDir(stored(entry["name"]).id))) << entry["name"];
    const std::string table = korvel({"list", "--sizes"}).output;
    EXPECT_NE(table.find("  Not running  1.2 MB\n2  Home"), std::string::npos) << table;

    const std::string workSize = FolderSize::text(duBytes(paths.dataDir(work.id)));
    EXPECT_EQ(workSize, "1.2 MB");
    EXPECT_EQ(korvel({"delete", "Work", "--trash-data"}),
        (Result {0, "Moved " + workSize + " of local data to the Trash.\n", ""}));
    const std::string homeSize = FolderSize::text(duBytes(paths.dataDir(home.id)));
    EXPECT_EQ(korvel({"delete", "Home"}),
        (Result {0, "Kept " + homeSize + " of local data in " + paths.dataDir(home.id).string() + ".\n", ""}));
}

// The paths whose entry differs between two descriptions of a tree.
std::vector<std::string> changes(
    const std::map<std::string, std::string>& before, const std::map<std::string, std::string>& after)
{
    std::vector<std::string> paths;
    for (const auto& [path, entry] : after) {
        if (!before.contains(path) || before.at(path) != entry)
            paths.push_back(path);
    }
    for (const auto& [path, entry] : before) {
        if (!after.contains(path))
            paths.push_back(path + " (gone)");
    }
    return paths;
}

// Read-only commands leave even outdated apps as they are; a changing one updates them, as Korvel's start does.
TEST_F(KorvelCommand, ReadOnlyCommandsChangeNothingOnDiskAndStatusIsCheckedThere)
{
    const Strings readOnly[] {{"list"}, {"list", "--json"}, {"status"}, {"status", "Work", "--json"}, {"--help"},
        {"list", "--help"}, {"claude-code", "Work", "--export"}};
    // Before anything exists: not even the support folder or the lock file appears.
    const auto empty = describeTree(temp.path());
    EXPECT_EQ(korvel({"list"}).status, 0);
    EXPECT_EQ(changes(empty, describeTree(temp.path())), Strings {});

    ASSERT_EQ(create("Work").status, 0);
    ASSERT_EQ(create("Home").status, 0);
    const Profile work = stored("Work");
    // An outdated app, a session and a pin waiting: what a start of Korvel would update and bring over.
    StandInClaude::setInfo(claude, "CFBundleShortVersionString", "1.3.0");
    const std::string account = "6F1D2C3B-4A59-4E6D-8C7B-9A0B1C2D3E4F";
    std::filesystem::create_directories(paths.dataDir(work.id) / "claude-code-sessions" / account);
    writeText(paths.originalDataDir / "claude-code-sessions" / account / "local_one.json", "{}");
    writeText(paths.originalDataDir / "claude_desktop_config.json",
        R"({"preferences": {"epitaxyPrefs": {"starred-local-code-sessions": ["local_one"]}}})");
    const auto before = describeTree(temp.path());
    for (const Strings& arguments : readOnly) {
        const Result result = korvel(arguments);
        EXPECT_EQ(result.status, 0) << arguments[0] << result.errorOutput;
        EXPECT_EQ(changes(before, describeTree(temp.path())), Strings {}) << arguments[0] << " " << arguments.back();
    }
    EXPECT_EQ(korvel({"status", "Home"}), (Result {0, "Update available (1.2.3 → 1.3.0)\n", ""}));
    ASSERT_EQ(korvel({"recolor", "Work", "red"}).status, 0);
    EXPECT_EQ(korvel({"status"}).output, "NAME  STATUS\nWork  Ready · Claude 1.3.0\nHome  Ready · Claude 1.3.0\n");

    std::filesystem::remove(paths.appsDir / "Claude Home.app/Contents/MacOS/KorvelLauncher");
    EXPECT_EQ(Json::parse(korvel({"status", "Home", "--json"}).output),
        Json::parse(R"j({"profiles": [{"id": ")j" + stored("Home").id.toString() + R"j(", "name": "Home",
        "status": {"kind": "damaged", "needsBuild": true, "reason": "launcher missing (was it auto-updated?)",
        "summary": "Needs rebuild: launcher missing (was it auto-updated?)"}}]})j"));
}

TEST_F(KorvelCommand, BadInputIsAUsageErrorAndChangesNothing)
{
    ASSERT_EQ(create("Work").status, 0);
    ASSERT_EQ(create("work").status, 3) << "the model keeps the profile but builds no app of the same name";
    const std::string before = readText(paths.profilesFile());
    const Strings appsBefore = installedApps();
    const std::string ids = " (" + stored("Work").id.toString() + "), “work” (" + stored("work").id.toString() + ")";

    const std::vector<std::pair<Strings, std::string>> cases {{{"rename", "Work", " \t "}, "The name can’t be blank."},
        {{"create", "  "}, "The name can’t be blank."},
        {{"rename", "WORK", "Job"}, "“WORK” could be “Work”" + ids + ". Name one by its ID."},
        {{"rebuild", "Nobody"}, "There is no profile “Nobody”. The profiles are “Work”" + ids + "."},
        {{"move", "Work", "3"}, "There is no position “3”: the positions are 1 to 2."},
        {{"move", "Work", "first"}, "There is no position “first”: the positions are 1 to 2."},
        {{}, "Name a command."}};
    for (const auto& [arguments, message] : cases) {
        const Result run = korvel(arguments);
        EXPECT_EQ(run.status, 2) << message;
        EXPECT_EQ(run.errorOutput.substr(0, run.errorOutput.find('\n')), "korvel: " + message);
        EXPECT_EQ(run.output, "");
    }
    EXPECT_EQ(korvel({"rename", "Work"}),
        (Result {2, "", "korvel: Something is missing.\nUsage: korvel rename PROFILE NEWNAME\n"}));
    EXPECT_EQ(readText(paths.profilesFile()), before);
    EXPECT_EQ(installedApps(), appsBefore);
}

TEST_F(KorvelCommand, TheExitStatusTellsWhetherWhatWasAskedHappenedAndOtherProfilesProblemsAreWarnings)
{
    // A profile created without its data or its app is there: a retry would make a second one.
    const Result empty = create("Empty", {"--import"});
    EXPECT_EQ(empty.status, 3);
    EXPECT_EQ(empty.output, stored("Empty").id.toString() + "\n");
    EXPECT_EQ(empty.errorOutput.rfind("Import failed: ", 0), 0u) << empty.errorOutput;
    EXPECT_NE(empty.errorOutput.find(". Your original Claude data was not changed.\n"), std::string::npos);

    const std::filesystem::path missing = temp / "nowhere/Claude.app";
    // Without Claude Desktop no profile is made, as the interface offers none.
    EXPECT_EQ(korvel({"create", "Work"}, {{"KORVEL_CLAUDE_APP", missing.string()}}),
        (Result {1, "",
            "Couldn’t create the profile: Claude Desktop isn’t installed. Korvel looked in " + missing.string() +
                ".\n"}));
    EXPECT_EQ(storedNames(), (Strings {"Empty"}));
    ASSERT_EQ(korvel({"create", "Work"}).status, 0);

    // Work's session ledger is a folder: every sync round reports it, whatever command started the round.
    const std::string account = "6F1D2C3B-4A59-4E6D-8C7B-9A0B1C2D3E4F";
    std::filesystem::create_directories(paths.dataDir(stored("Work").id) / "claude-code-sessions" / account);
    writeText(paths.originalDataDir / "claude-code-sessions" / account / "local_one.json", "{}");
    std::filesystem::create_directories(paths.profileDir(stored("Work").id) / "session-import.json/x");
    const Result fresh = korvel({"create", "Fresh"});
    EXPECT_EQ(fresh.status, 0) << fresh.errorOutput;
    EXPECT_EQ(fresh.output, stored("Fresh").id.toString() + "\n");
    EXPECT_EQ(fresh.errorOutput.rfind("Warning: Couldn’t bring sessions into Work: ", 0), 0u) << fresh.errorOutput;
    const Result sync = korvel({"sync"});
    EXPECT_EQ(sync.status, 1) << "bringing sessions over is what sync is asked for";
    EXPECT_EQ(sync.errorOutput.rfind("Couldn’t bring sessions into Work: ", 0), 0u) << sync.errorOutput;
    EXPECT_EQ(std::count(sync.errorOutput.begin(), sync.errorOutput.end(), '\n'), 1) << sync.errorOutput;

    // A list that does not read in full: what did read is listed, with a warning, also in JSON.
    const std::string stored = readText(paths.profilesFile());
    writeText(paths.profilesFile(), UnicodeText::replaceAll(stored, "\"color\" : \"orange\"", "\"color\" : \"mauve\""));
    const Result listed = korvel({"list", "--json"});
    EXPECT_EQ(listed.status, 0);
    const Json json = Json::parse(listed.output);
    EXPECT_EQ(json["profiles"].size(), 2u);
    ASSERT_EQ(json["warnings"].size(), 1u);
    EXPECT_EQ(json["warnings"][0].get<std::string>().rfind("Korvel couldn’t read one profile", 0), 0u) << json;
    EXPECT_EQ(listed.errorOutput, "Warning: " + json["warnings"][0].get<std::string>() + "\n");

    // An unreadable profile list: nothing runs, and the file stays as it was.
    writeText(paths.profilesFile(), "{ not json");
    const Result list = korvel({"list"});
    EXPECT_EQ(list.status, 1);
    EXPECT_EQ(list.errorOutput.rfind("Couldn’t read your profiles: ", 0), 0u) << list.errorOutput;
    EXPECT_EQ(readText(paths.profilesFile()), "{ not json");
}

TEST_F(KorvelCommand, TheInterruptedImportQuestionIsAnsweredOnTheCommandLine)
{
    for (const char* name : {"Work", "Home"})
        ASSERT_EQ(create(name).status, 0);
    const Profile work = stored("Work");
    const std::string id = work.id.toString();
    // What a kill during `korvel create Work --import` leaves.
    writeText(DataImporter::interruptedMarker(paths.dataDir(work.id)), "");
    writeText(paths.dataDir(work.id) / "Local State", "part of it");

    const std::string question = "Warning: Importing your Claude data into “Work” was interrupted. Korvel removed the "
                                 "part it had copied, so the profile starts empty. “korvel import " +
        id + "” imports your Claude data again; “korvel import " + id + " --keep-empty” keeps it empty.\n";
    EXPECT_EQ(korvel({"recolor", "Home", "red"}), (Result {0, "", question}));
    EXPECT_EQ(
        korvel({"import", "Home", "--keep-empty"}), (Result {2, "", "korvel: No import into “Home” broke off.\n"}));

    writeText(paths.originalDataDir / "Local State", "claude's");
    EXPECT_EQ(korvel({"import", "Work"}), succeeded);
    EXPECT_EQ(readText(paths.dataDir(work.id) / "Local State"), "claude's");
    EXPECT_EQ(korvel({"recolor", "Home", "red"}), succeeded) << "answered";

    writeText(DataImporter::interruptedMarker(paths.dataDir(work.id)), "");
    EXPECT_EQ(korvel({"recolor", "Home", "blue"}), (Result {0, "", question}));
    EXPECT_EQ(korvel({"import", "Work", "--keep-empty"}), succeeded);
    EXPECT_EQ(korvel({"recolor", "Home", "red"}), succeeded) << "answered";
    EXPECT_FALSE(std::filesystem::exists(paths.dataDir(work.id)));
}

TEST_F(KorvelCommand, NamesNoFileXmlOrDesktopEntryCanHoldAreRefusedAndTheRestIsEscapedOnATerminal)
{
    // What the name holds → the message that refuses it; nothing is stored or built.
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"Work\x1b[2J", "The name can’t contain the control character U+001B."},
        {"Ring\abell", "The name can’t contain the control character U+0007."},
        {"Tab\vVertical", "The name can’t contain the control character U+000B."},
        {"Del\x7f", "The name can’t contain the control character U+007F."},
        {"Non\xef\xbf\xbe", "The name can’t contain the character U+FFFE."},
        {"Latin\xe9", "The name isn’t valid UTF-8 text: byte 0xE9 after “Latin”."},
    };
    for (const auto& [name, message] : refused) {
        EXPECT_EQ(create(name), (Result {1, "", message + "\n"})) << message;
        ASSERT_EQ(create("Fine").status, 0);
        EXPECT_EQ(korvel({"rename", "Fine", name}), (Result {1, "", message + "\n"})) << message;
        EXPECT_EQ(storedNames(), Strings {"Fine"});
        EXPECT_EQ(installedApps(), Strings {"Claude Fine.app"});
        ASSERT_EQ(korvel({"delete", "Fine"}).status, 0);
    }

    // Held everywhere, but a terminal would obey it: shown escaped in tables, messages, JSON and completion.
    const std::string name = "Left\u202Eright\u2028line\u0085next\u2066";
    const Result made = create(name);
    ASSERT_EQ(made.status, 0) << made.errorOutput;
    const std::string id = stored(name).id.toString();
    const std::string shown = "Left\\u202Eright\\u2028line\\u0085next\\u2066";
    EXPECT_NE(korvel({"list"}).output.find("1  " + shown + "  orange"), std::string::npos) << korvel({"list"}).output;
    EXPECT_EQ(korvel({"status"}).output,
        "NAME" + std::string(shown.size() - 2, ' ') + "STATUS\n" + shown + "  Ready · Claude 1.2.3\n");
    const Result json = korvel({"list", "--json"});
    EXPECT_EQ(json.output.find("\u202E"), std::string::npos);
    EXPECT_EQ(Json::parse(json.output)["profiles"][0]["name"], name);
    EXPECT_EQ(korvel({"rename", id, "Work\x1b"}).errorOutput, "The name can’t contain the control character U+001B.\n");
    const Result rebuilt = korvel({"rebuild", id}, {{"KORVEL_CLAUDE_APP", (temp / "nowhere").string()}});
    EXPECT_NE(rebuilt.errorOutput.find("for " + shown + ":"), std::string::npos) << rebuilt.errorOutput;
    EXPECT_EQ(korvel({"__complete", "open", ""}), (Result {0, id + "\n", ""})) << "offered by its ID";

    // A name edited into the list by hand is refused by the build, which would write it into the app's files.
    writeText(paths.profilesFile(), UnicodeText::replaceAll(readText(paths.profilesFile()), "Left", "Le\\u0007ft"));
    EXPECT_EQ(korvel({"rebuild", id}),
        (Result {1, "",
            "Couldn’t create the app for Le\\x07ft" + shown.substr(4) +
                ": The name can’t contain the control character U+0007. Rename the profile.\n"}));
}

TEST_F(KorvelCommand, OpenAndRestartStartTheProfileApp)
{
    ASSERT_EQ(create("Work").status, 0);
    const Profile work = stored("Work");
    const std::filesystem::path record = StandInClaude::recordFile(paths.dataDir(work.id));
    const Environment stay {{"KORVEL_STANDIN_STAY", "1"}};

    // The app keeps running after korvel has ended, without holding korvel's output open (the run, which reads
    // both outputs to their end, would never finish).
    ASSERT_EQ(korvel({"open", "Work"}, stay).status, 0);
    ASSERT_TRUE(eventually([&] { return StandInRecord::readAll(record).size() == 1; }));
    const StandInRecord first = StandInRecord::readAll(record).front();
    endWithTest(first.pid);

    ASSERT_TRUE(eventually([&] { return Json::parse(korvel({"list", "--json"}).output)["profiles"][0]["running"]; }));
    ASSERT_EQ(korvel({"restart", "Work"}, stay).status, 0);
    ASSERT_TRUE(eventually([&] { return StandInRecord::readAll(record).size() == 2; }));
    const StandInRecord second = StandInRecord::readAll(record).back();
    endWithTest(second.pid);
    EXPECT_NE(second.pid, first.pid);
    EXPECT_TRUE(eventually([&] { return ::kill(first.pid, 0) != 0; })) << "the first app was asked to quit";
}

TEST_F(KorvelCommand, LinksGoToClaudeDesktopWhileRoutingIsOffAndRouteLinksMovesTheHandler)
{
    const std::filesystem::path record = temp / "links.txt";
    const Result link =
        korvel({"link", "claude://claude.ai/a", "claude://claude.ai/b"}, {{"KORVEL_STANDIN_RECORD", record.string()}});
    ASSERT_EQ(link.status, 0) << link.errorOutput;
    ASSERT_TRUE(eventually([&] { return StandInRecord::readAll(record).size() == 1; }));
    EXPECT_EQ(StandInRecord::readAll(record).front().arguments,
        (Strings {StandInClaude::executable(claude).string(), "claude://claude.ai/a", "claude://claude.ai/b"}));

    // The desktop's default for the scheme, as GIO keeps it, and Korvel's stored setting.
    const auto valueOf = [](const std::string& text, const std::string& key) {
        const size_t at = text.find("\n" + key + "=");
        const size_t begin = at == std::string::npos ? at : at + key.size() + 2;
        return at == std::string::npos ? std::string("none") : text.substr(begin, text.find('\n', begin) - begin);
    };
    const auto handlerAndSetting = [&] {
        return valueOf(readText(home / ".config/mimeapps.list"), "x-scheme-handler/claude") + " " +
            valueOf(readText(home / ".config/Korvel/Korvel.conf"), "routeClaudeLinks");
    };
    ASSERT_EQ(korvel({"route-links", "on"}).status, 0);
    EXPECT_EQ(handlerAndSetting(), "korvel.desktop true");
    ASSERT_EQ(korvel({"route-links", "off"}).status, 0);
    EXPECT_EQ(handlerAndSetting(), "korvel-com.anthropic.claudefordesktop.desktop false");
}

TEST_F(KorvelCommand, SyncReportsWhatItBroughtIntoEachProfile)
{
    ASSERT_EQ(create("Work").status, 0);
    ASSERT_EQ(create("Home").status, 0);
    const std::string account = "6F1D2C3B-4A59-4E6D-8C7B-9A0B1C2D3E4F";
    const Profile work = stored("Work");
    std::filesystem::create_directories(paths.dataDir(work.id) / "claude-code-sessions" / account);
    const std::filesystem::path sessions = paths.originalDataDir / "claude-code-sessions" / account / "project";
    writeText(sessions / "local_one.json", "{}");
    writeText(sessions / "local_two.json", "{}");
    writeText(paths.originalDataDir / "claude_desktop_config.json",
        R"({"preferences": {"epitaxyPrefs": {"starred-local-code-sessions": ["local_one"]}}})");

    EXPECT_EQ(korvel({"sync"}), (Result {0, "Work  2 sessions, 1 pin\nHome  nothing new\n", ""}));
    const Json again = Json::parse(korvel({"sync", "--json"}).output);
    ASSERT_EQ(again["profiles"].size(), 2u);
    EXPECT_EQ(again["profiles"][0], Json::parse(R"({"id": ")" + work.id.toString() + R"(", "name": "Work",
        "running": false, "sessions": 0, "pins": 0, "pinsWaiting": 0, "mcpServers": 0, "mcpServersWaiting": 0})"));

    // Claude's MCP servers only once the setting is on.
    writeText(paths.originalDataDir / "claude_desktop_config.json", R"({"mcpServers": {"files": {"command": "x"}}})");
    EXPECT_EQ(korvel({"sync"}), (Result {0, "Work  nothing new\nHome  nothing new\n", ""}));
    ASSERT_EQ(korvel({"mcp-servers", "on"}).status, 0);
    EXPECT_NE(readText(home / ".config/Korvel/Korvel.conf").find("bringMcpServers=true"), std::string::npos);
    EXPECT_NE(readText(paths.dataDir(work.id) / "claude_desktop_config.json").find("files"), std::string::npos)
        << "turning it on brings them at once";
    writeText(paths.originalDataDir / "claude_desktop_config.json",
        R"({"mcpServers": {"files": {"command": "x"}, "git": {"command": "y"}}})");
    const Json servers = Json::parse(korvel({"sync", "--json"}).output);
    ASSERT_EQ(servers["profiles"].size(), 2u);
    for (const Json& profile : servers["profiles"])
        EXPECT_EQ(profile["mcpServers"], 1) << profile;
    EXPECT_EQ(korvel({"sync"}), (Result {0, "Work  nothing new\nHome  nothing new\n", ""}));
    ASSERT_EQ(korvel({"mcp-servers", "off"}).status, 0);
    EXPECT_NE(readText(home / ".config/Korvel/Korvel.conf").find("bringMcpServers=false"), std::string::npos);
}

TEST_F(KorvelCommand, ClaudeCodeOpensATerminalOrHandsOutItsPieces)
{
    ASSERT_EQ(create("Work").status, 0);
    const Profile work = stored("Work");
    EXPECT_EQ(korvel({"claude-code", "Work", "--export"}),
        (Result {0, ClaudeCodeLauncher::exportLine(paths.claudeCodeConfigDir(work.id)) + "\n", ""}));

    const std::filesystem::path commandFile = paths.profileDir(work.id) / "Claude Code.command";
    EXPECT_EQ(korvel({"claude-code", "Work", "--script"}), (Result {0, commandFile.string() + "\n", ""}));
    EXPECT_FALSE(std::filesystem::exists(terminalRecord)) << "--script opens no terminal";

    ASSERT_EQ(korvel({"claude-code", "Work"}).status, 0);
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(terminalRecord); }));
    EXPECT_EQ(readText(terminalRecord), "-e\n" + commandFile.string() + "\n");
}

// bash itself completes through the script as installed, which asks the sandbox's korvel.
TEST_F(KorvelCommand, BashCompletesCommandsOptionsColorsAndProfiles)
{
    for (const char* name : {"Work", "My Work", "Home"})
        ASSERT_EQ(create(name).status, 0);
    const std::string script = KORVEL_SOURCE_DIR "/packaging/korvel.bash-completion";
    const auto complete = [&](const Strings& words) {
        Strings arguments {"bash", "--norc", "-c",
            R"(source "$1" && shift && COMP_WORDS=(korvel "$@") && COMP_CWORD=$# && _korvel &&
               printf '%s\n' "${COMPREPLY[@]}")",
            "bash", script};
        arguments.insert(arguments.end(), words.begin(), words.end());
        return run("/bin/bash", arguments, {{"PATH", KORVEL_BINARY_DIR ":/usr/bin:/bin"}});
    };
    const std::vector<std::pair<Strings, std::string>> cases = {
        {{"re"}, "rename\nrecolor\nrebuild\nrestart\n"},
        {{"--v"}, "--version\n"},
        {{"open", ""}, "Work\nMy\\ Work\nHome\n"},
        {{"open", "M"}, "My\\ Work\n"},
        {{"open", "My\\ W"}, "My\\ Work\n"},
        {{"open", "\"My W"}, "My Work\n"},
        {{"delete", "--trash-data", "H"}, "Home\n"},
        {{"delete", "-"}, "--help\n--trash-data\n"},
        {{"create", "New", "--"}, "--help\n--import\n--open\n--color\n"},
        {{"create", "New", "--color", "gr"}, "green\ngraphite\n"},
        {{"recolor", "Work", "p"}, "pink\npurple\n"},
        {{"route-links", ""}, "on\noff\n"},
        {{"rename", "Work", ""}, "\n"}, // the new name is the user's
        {{"nonsense", ""}, "\n"},
    };
    for (const auto& [words, expected] : cases) {
        SCOPED_TRACE(words.back());
        EXPECT_EQ(complete(words), (Result {0, expected, ""}));
    }
    EXPECT_EQ(run("/bin/bash", {"bash", "--norc", "-c", R"(source "$1" && complete -p korvel)", "bash", script}),
        (Result {0, "complete -F _korvel korvel\n", ""}));
}

// Started as Korvel with a command as its first argument, the program is the command line too.
TEST_F(KorvelCommand, TheApplicationsProgramRunsACommandGivenFirst)
{
    ASSERT_EQ(create("Work").status, 0);
    EXPECT_EQ(run(applicationProgram(), {"Korvel", "list"}), korvel({"list"}));
}

TEST_F(KorvelCommand, CommandsAtTheSameTimeKeepEveryChange)
{
    std::vector<std::future<Result>> runs;
    for (const char* name : {"P1", "P2", "P3", "P4"})
        runs.push_back(std::async(std::launch::async, [this, name] { return create(name); }));
    for (auto& run : runs)
        EXPECT_EQ(run.get().status, 0);
    EXPECT_EQ(installedApps(), (Strings {"Claude P1.app", "Claude P2.app", "Claude P3.app", "Claude P4.app"}));
    Strings names = storedNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Strings {"P1", "P2", "P3", "P4"}));
}

} // namespace
} // namespace korvel::test
