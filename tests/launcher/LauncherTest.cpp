#include "tests/support/ChildProcess.hpp"
#include "tests/support/StandInClaude.hpp"
#include "tests/support/StandInRecord.hpp"
#include "tests/support/TempDir.hpp"

#include <functional>
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace fs = std::filesystem;
using namespace korvel::test;

namespace {

// g_variant_print with types, taking over the reference.
std::string printed(GVariant* value)
{
    gchar* text = g_variant_print(value, TRUE);
    const std::string result = text;
    g_free(text);
    g_variant_unref(value);
    return result;
}

// The gdbus arguments of the Notify call that shows `body` with one "OK" button, values as GLib prints them.
std::string notifyCall(const std::string& body)
{
    const char* actions[] = {"ok", "OK", nullptr};
    return "call --session --dest org.freedesktop.Notifications --object-path /org/freedesktop/Notifications "
           "--method org.freedesktop.Notifications.Notify " +
        printed(g_variant_ref_sink(g_variant_new("(susss^as@a{sv}i)", "Korvel", 0u, "", "Korvel", body.c_str(), actions,
            g_variant_new("a{sv}", nullptr), 0)));
}

// A profile app built by hand from the stand-in: Claude beside our launcher, the data folder in Info.plist.
// Notices go to a stand-in gdbus that records its arguments and then lingers like a slow notification server.
class LauncherTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fs::create_directories(temp / "work dir");
        bundle = temp / "Apps" / "Claude Work.app";
        fs::rename(StandInClaude::create(temp / "Apps"), bundle);
        StandInClaude::installLauncher(bundle, KORVEL_LAUNCHER_PATH, dataDir);
        writeExecutable(
            gdbus, "#!/bin/sh\nprintf '%s\\000' \"$@\" >\"$0.part\" && mv \"$0.part\" \"$0.argv\"\nsleep 2\n");
    }

    fs::path launcher() const { return bundle / "Contents/MacOS/KorvelLauncher"; }
    fs::path claude() const { return StandInClaude::executable(bundle); }

    ChildProcess::Result run(std::vector<std::string> arguments = {}, ChildProcess::Options options = {}) const
    {
        arguments.insert(arguments.begin(), launcher().string());
        if (options.arguments.empty())
            options.arguments = arguments;
        options.environment.emplace("KORVEL_GDBUS", gdbus.string());
        options.environment.emplace("KORVEL_STANDIN_RECORD", std::nullopt);
        if (options.workingDirectory.empty())
            options.workingDirectory = temp / "work dir";
        return ChildProcess::run(launcher(), options);
    }

    StandInRecord claudeRecord() const { return StandInRecord::readOne(StandInClaude::recordFile(dataDir)); }

    // The arguments the stand-in gdbus got, its values parsed without types as gdbus parses them.
    std::string postedNotice() const
    {
        const fs::path record = gdbus.string() + ".argv";
        for (int attempt = 0; attempt < 200 && !fs::exists(record); ++attempt)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        if (!fs::exists(record))
            return "no notice";
        const std::string bytes = readText(record);
        fs::remove(record);
        std::vector<std::string> words;
        for (size_t start = 0, end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1)
            words.push_back(bytes.substr(start, end - start));
        std::string command, values;
        for (size_t index = 0; index < words.size(); ++index) {
            if (index < 8)
                command += words[index] + " ";
            else
                values += (index > 8 ? ", " : "") + words[index];
        }
        GVariant* call = g_variant_parse(nullptr, ("(" + values + ")").c_str(), nullptr, nullptr, nullptr);
        return call ? command + printed(call) : "unparsable values: " + values;
    }

    // Exit status 1, one line on standard error, nothing else, no waiting for the notice, which says the same.
    void expectFailure(const ChildProcess::Result& result, const std::string& message) const
    {
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.standardError, "KorvelLauncher: " + message + "\n");
        EXPECT_EQ(result.standardOutput, "");
        // The stand-in gdbus lingers: a launcher that waited for it, or left it our pipes, would take seconds.
        EXPECT_LT(result.seconds, 1.0);
        EXPECT_EQ(postedNotice(), notifyCall(message + "\n\nOpen Korvel and choose “Rebuild App” for this profile."));
    }

    TempDir temp;
    fs::path bundle;
    fs::path gdbus = temp / "gdbus";
    // Characters the notice must quote, and two parent folders that do not exist yet.
    std::string dataDir = (temp / "Profile Data" / "it's a \\ “quoted”\tname" / "Data Folder").string();
};

TEST_F(LauncherTest, BecomesClaudeInTheSameProcessWithThePrivateProfileFolder)
{
    const mode_t previous = ::umask(0222);
    const auto result = run({"--user-data-dir=/elsewhere", "--foo", "--user-data-dir", "value after a bare switch",
                                "--user-data-dirt", "", "claude://open a link", "-user-data-dir=/kept"},
        {.environment = {{"KORVEL_PROBE", "a value with blanks"}}});
    ::umask(previous);

    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    const auto record = claudeRecord();
    // Only data folder switches are dropped; the profile's is one argument, blanks and all.
    EXPECT_EQ(record.arguments,
        (std::vector<std::string> {claude().string(), "--user-data-dir=" + dataDir, "--foo",
            "value after a bare switch", "", "claude://open a link", "-user-data-dir=/kept"}));
    EXPECT_EQ(record.pid, result.pid) << "Claude must replace the launcher, not run as its child";
    EXPECT_EQ(record.workingDirectory, (temp / "work dir").string());
    EXPECT_EQ(record.environment.at("KORVEL_PROBE"), "a value with blanks");
    for (const fs::path& folder : {temp / "Profile Data", fs::path(dataDir).parent_path(), fs::path(dataDir)})
        EXPECT_EQ(modeOf(folder), 0700u) << folder;
}

TEST_F(LauncherTest, HandsClaudeItsOwnPathAsArgumentZero)
{
    fs::copy_file(KORVEL_ARGV_RECORDER_PATH, claude(), fs::copy_options::overwrite_existing);
    const auto record = temp / "argv-record";

    // The launcher finds its bundle by itself, whatever argument zero it was given.
    const auto result = run(
        {}, {.arguments = {"KorvelLauncher", "--foo"}, .environment = {{"KORVEL_STANDIN_RECORD", record.string()}}});

    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    const auto recorded = StandInRecord::readOne(record);
    EXPECT_EQ(
        recorded.arguments, (std::vector<std::string> {claude().string(), "--user-data-dir=" + dataDir, "--foo"}));
    EXPECT_EQ(recorded.pid, result.pid);
}

TEST_F(LauncherTest, AcceptsAnExistingFolderAndBinaryInfoPlistAsTheyAre)
{
    fs::create_directories(dataDir);
    fs::permissions(dataDir, fs::perms(0755));
    StandInClaude::convertInfoToBinary(bundle);

    const auto result = run({"--foo"});

    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_EQ(claudeRecord().arguments,
        (std::vector<std::string> {claude().string(), "--user-data-dir=" + dataDir, "--foo"}));
    EXPECT_EQ(modeOf(dataDir), 0755u);
}

TEST_F(LauncherTest, RefusesAMissingOrUnusableDataFolderSetting)
{
    const auto info = bundle / "Contents/Info.plist";
    const std::string intact = readText(info);
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {"relative path", [&] { StandInClaude::setInfoString(bundle, "KVLUserDataDir", "Profile Data/x"); }},
        {"missing key", [&] { StandInClaude::removeInfoKey(bundle, "KVLUserDataDir"); }},
        {"integer value", [&] { StandInClaude::setInfoInteger(bundle, "KVLUserDataDir", 7); }},
        {"not a property list", [&] { writeText(info, "KVLUserDataDir=/tmp/x\n"); }},
    };
    for (const auto& [name, breakIt] : cases) {
        SCOPED_TRACE(name);
        writeText(info, intact);
        breakIt();

        expectFailure(run(), "This profile app has no data folder configured.");
        EXPECT_FALSE(fs::exists(temp / "Profile Data"));
        EXPECT_FALSE(fs::exists(temp / "work dir" / "Profile Data"));
    }
}

TEST_F(LauncherTest, RefusesToRunOutsideAnAppBundle)
{
    for (const char* name : {"Claude Work.APP", "Claude Work"}) {
        SCOPED_TRACE(name);
        fs::rename(bundle, temp / "Apps" / name);
        bundle = temp / "Apps" / name;

        expectFailure(run(), "The launcher must run from inside a profile app bundle.");
        EXPECT_FALSE(fs::exists(temp / "Profile Data"));
    }
}

TEST_F(LauncherTest, RefusesWhenClaudeIsMissingOrNotExecutable)
{
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {"missing", [&] { fs::remove(claude()); }},
        {"not executable", [&] { fs::permissions(claude(), fs::perms(0644)); }},
        {"a folder", [&] { fs::remove(claude()), fs::create_directory(claude()); }},
    };
    for (const auto& [name, breakIt] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(claude());
        writeExecutable(claude(), "#!/bin/sh\nexit 0\n");
        breakIt();

        expectFailure(run(), "Claude's executable is missing from this profile app.");
        // The folder comes first; only then is Claude looked for.
        EXPECT_TRUE(fs::is_directory(dataDir));
    }
}

TEST_F(LauncherTest, ReportsWhyClaudeOrTheDataFolderFailed)
{
    writeText(claude(),
        "\x7f"
        "ELF not really");
    expectFailure(run(), "Could not start Claude: Exec format error");

    fs::remove_all(temp / "Profile Data");
    writeText(temp / "Profile Data", "a file where a folder belongs");
    expectFailure(run(), "Could not create the profile data folder at " + dataDir + ": Not a directory");

    fs::remove(temp / "Profile Data");
    writeText(dataDir, "a file where the data folder belongs");
    expectFailure(run(), "Could not create the profile data folder at " + dataDir + ": File exists");
}

} // namespace
