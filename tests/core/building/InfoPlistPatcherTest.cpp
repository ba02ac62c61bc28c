#include "core/building/InfoPlistPatcher.hpp"
#include "core/building/AppBundle.hpp"
#include "core/support/FileError.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/DeepNesting.hpp"
#include "tests/support/Fifo.hpp"
#include "tests/support/StandInClaude.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/Thrown.hpp"

#include <gtest/gtest.h>

#include <limits>

using namespace korvel;
using namespace korvel::test;
namespace fs = std::filesystem;

namespace {

const fs::path dataDir = "/home/ada/.local/share/Korvel/Profiles/6F1C2A4E-9B0D-4C1E-8A7F-3D2E1B0C9A88/Data";

Profile makeProfile(std::string name, ProfileColor color)
{
    return Profile {*Uuid::parse("6f1c2a4e-9b0d-4c1e-8a7f-3d2e1b0c9a88"), std::move(name), color, {}};
}

// Python's plistlib, a reader we did not write: `file` (XML or binary) as sorted XML, whose elements name
// every value's type, or, given `binary`, written there in the binary form.
std::string plistlib(const fs::path& file, const fs::path& binary = {})
{
    std::vector<std::string> arguments = {"python3", "-c",
        "import plistlib, sys\n"
        "data = plistlib.load(open(sys.argv[1], 'rb'))\n"
        "if len(sys.argv) > 2: plistlib.dump(data, open(sys.argv[2], 'wb'), fmt=plistlib.FMT_BINARY)\n"
        "else: sys.stdout.write(plistlib.dumps(data, sort_keys=True).decode())\n",
        file.string()};
    if (!binary.empty())
        arguments.push_back(binary.string());
    const auto result = ChildProcess::run("/usr/bin/python3", {arguments});
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    return result.standardOutput;
}

} // namespace

// The stand-in's Info.plist is shaped like Claude Desktop's and holds a value of every type.
TEST(InfoPlistPatcher, ReadsXmlAndBinaryAndWritesXmlThatPlistlibReadsAlike)
{
    TempDir dir;
    const fs::path source = StandInClaude::create(dir.path()) / "Contents/Info.plist";
    plistlib(source, dir / "Binary.plist");
    const PlistDictionary plist = InfoPlistPatcher::read(source);
    EXPECT_EQ(InfoPlistPatcher::read(dir / "Binary.plist"), plist);
    EXPECT_EQ(plist.size(), 17u);
    EXPECT_EQ(plist.at("ElectronOffset"), PlistValue(-12));
    EXPECT_EQ(plist.at("ElectronOpacity"), PlistValue(0.95));
    EXPECT_EQ(plist.at("ElectronBuildDate"), PlistValue(*Timestamp::parseIso8601("2025-03-14T09:26:53Z")));
    EXPECT_EQ(plist.at("ElectronAsarHeader"), PlistValue(PlistData {0xde, 0xad, 0xbe, 0xef, 0, 1, 2, 3, 0xff}));
    EXPECT_EQ(plist.at("CFBundleURLTypes"),
        PlistValue(PlistArray {PlistDictionary {{"CFBundleURLSchemes", PlistArray {"claude"}}}}));
    EXPECT_EQ(InfoPlistPatcher::stringValue(plist, "NSMicrophoneUsageDescription"),
        "It’s only used while you dictate — & never.");

    InfoPlistPatcher::write(plist, dir / "Info.plist");
    EXPECT_TRUE(readText(dir / "Info.plist").starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
    EXPECT_EQ(plistlib(dir / "Info.plist"), plistlib(source));
}

TEST(InfoPlistPatcher, ExtremeIntegersAndDatesSurviveTheXmlForm)
{
    // libplist 2.2's accessors lose the sign of the largest integers and dates outside 1933–2069.
    const PlistDictionary plist = {
        {"Max", std::numeric_limits<std::uint64_t>::max()},
        {"Min", std::numeric_limits<std::int64_t>::min()},
        {"Old", *Timestamp::parseIso8601("1900-01-01T00:00:00Z")},
        {"Future", *Timestamp::parseIso8601("2100-06-30T12:00:01Z")},
        {"BeforeReference", *Timestamp::parseIso8601("2000-12-31T23:59:59Z")},
        {"Empty", PlistDictionary {}},
        {"EmptyData", PlistData {}},
    };
    TempDir dir;
    InfoPlistPatcher::write(plist, dir / "Info.plist");
    EXPECT_EQ(InfoPlistPatcher::read(dir / "Info.plist"), plist);
    const std::string python = plistlib(dir / "Info.plist");
    for (const char* element : {"<integer>18446744073709551615</integer>", "<integer>-9223372036854775808</integer>",
             "<date>1900-01-01T00:00:00Z</date>", "<date>2100-06-30T12:00:01Z</date>",
             "<date>2000-12-31T23:59:59Z</date>"})
        EXPECT_NE(python.find(element), std::string::npos) << element << " not in\n" << python;
}

TEST(InfoPlistPatcher, PatchRewritesTheProfileEntriesAndKeepsEverythingElse)
{
    TempDir dir;
    const PlistDictionary source = InfoPlistPatcher::read(StandInClaude::create(dir.path()) / "Contents/Info.plist");
    const Profile work = makeProfile("Work", ProfileColor::Teal);
    PlistDictionary expected = source;
    expected.erase("CFBundleURLTypes");
    expected.erase("CFBundleIconName");
    for (const auto& [key, value] :
        PlistDictionary {{"CFBundleIdentifier", work.bundleIdentifier()}, {"CFBundleDisplayName", "Claude Work"},
            {"CFBundleExecutable", "KorvelLauncher"}, {"CFBundleIconFile", "ProfileIcon"},
            {"KVLUserDataDir", dataDir.string()}, {"KVLProfileID", "6F1C2A4E-9B0D-4C1E-8A7F-3D2E1B0C9A88"},
            {"KVLSourceVersion", "1.2.3"}, {"KVLAppearance", "teal:W"}})
        expected[key] = value;
    EXPECT_EQ(InfoPlistPatcher::patch(source, work, dataDir), expected);
    // Rebuilt in place: an earlier build's entries of ours are all replaced.
    const PlistDictionary earlier = InfoPlistPatcher::patch(source, makeProfile("Old", ProfileColor::Red), "/old");
    EXPECT_EQ(InfoPlistPatcher::patch(earlier, work, dataDir), expected);

    // No version string: "unknown", and a number stays a number; the launcher hash is left to the builder.
    const PlistDictionary bare =
        InfoPlistPatcher::patch({{"CFBundleShortVersionString", 14}, {"KVLLauncherHash", "abc"}}, work, dataDir);
    EXPECT_EQ(InfoPlistPatcher::stringValue(bare, "KVLSourceVersion"), "unknown");
    EXPECT_EQ(bare.at("CFBundleShortVersionString"), PlistValue(14));
    EXPECT_EQ(InfoPlistPatcher::stringValue(bare, "KVLLauncherHash"), "abc");
    EXPECT_EQ(bare.size(), 10u);
    EXPECT_EQ(InfoPlistPatcher::appearance(makeProfile("!!", ProfileColor::Graphite)), "graphite:?");
}

TEST(InfoPlistPatcher, ReadFailuresNameTheFileAndTheirKindButReadStringValueNeverThrows)
{
    TempDir dir;
    const auto failure = [&](const std::string& name) {
        return thrown<FileError>([&] { InfoPlistPatcher::read(dir / name); });
    };
    EXPECT_EQ(failure("Missing.plist").kind(), FileError::Kind::ReadNoSuchFile);
    fs::create_directory(dir / "Folder.plist");
    EXPECT_EQ(failure("Folder.plist").errorNumber(), EISDIR);
    writeText(dir / "Array.plist", R"(<plist version="1.0"><array><string>Claude</string></array></plist>)");
    EXPECT_EQ(failure("Array.plist").kind(), FileError::Kind::PropertyListCorrupt);
    for (const std::string_view garbage : {std::string_view("not a plist"), std::string_view(""),
             std::string_view("bplist00\x01\x02"), std::string_view("<plist version=\"1.0\"><dict><key>a</key>")}) {
        writeText(dir / "Garbage.plist", garbage);
        const FileError corrupt = failure("Garbage.plist");
        EXPECT_EQ(corrupt.kind(), FileError::Kind::PropertyListCorrupt) << garbage;
        EXPECT_FALSE(corrupt.detail().empty());
        EXPECT_NE(std::string(corrupt.what()).find((dir / "Garbage.plist").string()), std::string::npos);
    }

    InfoPlistPatcher::write({{"Name", "Claude"}, {"Count", 3}}, dir / "Info.plist");
    EXPECT_EQ(InfoPlistPatcher::readStringValue(dir / "Info.plist", "Name"), "Claude");
    for (const auto& [file, key] :
        {std::pair {"Info.plist", "Count"}, {"Missing.plist", "Name"}, {"Array.plist", "Name"}})
        EXPECT_EQ(InfoPlistPatcher::readStringValue(dir / file, key), std::nullopt) << file;
}

// Any .app in the profile apps folder is read: its Info.plist must not take Korvel down, nor keep it waiting.
TEST(InfoPlistPatcher, DeepNestingAndSpecialFilesFailNamingTheFile)
{
    TempDir dir;
    // What PlistScreening finds, in either form.
    const std::vector<std::pair<std::string, std::string>> deep = {
        {"XML", DeepNesting::xmlPlist(100000, true)}, {"binary", DeepNesting::binaryPlist(100000)}};
    for (const auto& [what, bytes] : deep) {
        writeText(dir / "Info.plist", bytes);
        const auto error = thrown<FileError>([&] { InfoPlistPatcher::read(dir / "Info.plist"); });
        EXPECT_EQ(error.kind(), FileError::Kind::PropertyListCorrupt) << what;
        EXPECT_EQ(error.path(), dir / "Info.plist") << what;
        EXPECT_EQ(error.detail(), "its arrays and dictionaries are nested more than 512 deep") << what;
    }

    // Nesting a bundle could have reads.
    writeText(dir / "Info.plist", DeepNesting::xmlPlist(100, true));
    EXPECT_EQ(InfoPlistPatcher::read(dir / "Info.plist").size(), 1u);
    writeText(dir / "Info.plist", DeepNesting::binaryPlist(100));
    EXPECT_THROW(InfoPlistPatcher::read(dir / "Info.plist"), FileError); // an array at the top

    Fifo::make(dir / "Pipe.plist");
    std::optional<FileError> error;
    EXPECT_TRUE(Fifo::readsWithoutWaiting(
        dir / "Pipe.plist", [&] { error = thrown<FileError>([&] { InfoPlistPatcher::read(dir / "Pipe.plist"); }); }));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), FileError::Kind::ReadUnknown);
    EXPECT_EQ(error->path(), dir / "Pipe.plist");
    EXPECT_NE(error->description().find("isn’t a regular file"), std::string::npos) << error->description();
}

// Write failures in general are AtomicFile's; what is the patcher's own: values the XML form cannot hold.
TEST(InfoPlistPatcher, UnwritableValuesFailBeforeAnythingIsWritten)
{
    TempDir dir;
    const auto existing = dir / "Existing.plist";
    InfoPlistPatcher::write({{"a", 1}}, existing);
    const std::string before = readText(existing);
    for (const PlistDictionary& plist :
        {PlistDictionary {{"a", std::string("nul\0inside", 10)}}, PlistDictionary {{std::string("k\0", 2), 1}},
            PlistDictionary {{"a", PlistArray {Timestamp {-62135596800.0 - 86400}}}}}) { // the day before 0001-01-01
        const auto error = thrown<FileError>([&] { InfoPlistPatcher::write(plist, existing); });
        EXPECT_EQ(error.kind(), FileError::Kind::WriteUnknown);
        EXPECT_EQ(error.path(), existing);
        EXPECT_FALSE(error.detail().empty());
        EXPECT_EQ(readText(existing), before);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1);
}

TEST(AppBundle, AnExecutableBelongsToTheBundleWhoseMacOSFolderHoldsIt)
{
    EXPECT_EQ(AppBundle::containing("/Apps/Claude Work.app/Contents/MacOS/Claude"), "/Apps/Claude Work.app");
    EXPECT_EQ(AppBundle::containing("/A/Claude.app/Contents/Frameworks/Claude Helper.app/Contents/MacOS/Helper"),
        "/A/Claude.app/Contents/Frameworks/Claude Helper.app");
    EXPECT_EQ(AppBundle::containing("X.app/Contents/MacOS/tool"), "X.app");
    for (const char* path : {"/A/X.app/Contents/MacOS/sub/tool", "/A/X.app/Contents/Resources/tool",
             "/A/X.app/Contents/MacOS/", "/A/.app/Contents/MacOS/tool", "/A/Xapp/Contents/MacOS/tool", "/usr/bin/env"})
        EXPECT_EQ(AppBundle::containing(path), std::nullopt) << path;
}

TEST(AppBundle, IdentifierExecutableAndLocationWithLinksResolved)
{
    TempDir folder;
    const auto bundle = folder / "real/Claude.app";
    fs::create_directories(bundle / "Contents");
    EXPECT_EQ(AppBundle::identifier(bundle), std::nullopt);
    EXPECT_EQ(AppBundle::executable(bundle), std::nullopt);
    InfoPlistPatcher::write(
        {{"CFBundleIdentifier", "com.example.claude"}, {"CFBundleExecutable", "Claude"}}, AppBundle::infoPlist(bundle));
    EXPECT_EQ(AppBundle::identifier(bundle), "com.example.claude");
    EXPECT_EQ(AppBundle::executable(bundle), bundle / "Contents/MacOS/Claude");
    InfoPlistPatcher::write({{"CFBundleExecutable", "../../../bin/sh"}}, AppBundle::infoPlist(bundle));
    EXPECT_EQ(AppBundle::executable(bundle), std::nullopt) << "an executable outside the bundle";

    fs::create_directory_symlink(folder / "real", folder / "link");
    const auto real = fs::canonical(bundle);
    EXPECT_EQ(AppBundle::resolvedLocation(folder / "link/Claude.app"), real);
    EXPECT_EQ(AppBundle::resolvedLocation(folder / "link/./Claude.app/"), real);
    EXPECT_EQ(AppBundle::resolvedLocation(folder / "link/Gone.app"), real.parent_path() / "Gone.app");
}
