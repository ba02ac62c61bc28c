#include "core/building/InfoPlistPatcher.hpp"
#include "core/building/ProfileBundleKeys.hpp"
#include "core/support/FileError.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <plist/plist.h>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>

using namespace korvel;
using korvel::test::readText;
using korvel::test::TempDir;
using korvel::test::writeText;

namespace korvel {
namespace {

// The same JSON shape the plistlib script below prints: reals, data and dates tagged so that a changed
// type shows as a difference.
nlohmann::json toJson(const PlistValue& value)
{
    switch (value.type()) {
    case PlistValue::Type::String:
        return *value.asString();
    case PlistValue::Type::Integer:
        if (const auto small = value.asInteger())
            return *small;
        return *value.asUnsignedInteger();
    case PlistValue::Type::Real:
        return {{"real", *value.asReal()}};
    case PlistValue::Type::Boolean:
        return *value.asBoolean();
    case PlistValue::Type::Date:
        return {{"date", value.asDate()->iso8601()}};
    case PlistValue::Type::Data: {
        std::string hex;
        for (const auto byte : *value.asData()) {
            char digits[3];
            std::snprintf(digits, sizeof digits, "%02x", byte);
            hex += digits;
        }
        return {{"data", hex}};
    }
    case PlistValue::Type::Array: {
        auto array = nlohmann::json::array();
        for (const auto& item : *value.asArray())
            array.push_back(toJson(item));
        return array;
    }
    case PlistValue::Type::Dictionary:
        break;
    }
    auto object = nlohmann::json::object();
    for (const auto& [key, item] : *value.asDictionary())
        object[key] = toJson(item);
    return object;
}

} // namespace

void PrintTo(const PlistValue& value, std::ostream* out)
{
    *out << toJson(value).dump();
}

} // namespace korvel

namespace {

constexpr std::string_view plistlibScript = R"(import datetime, json, os, plistlib

def tagged(v):
    if isinstance(v, bool) or isinstance(v, int) or isinstance(v, str):
        return v
    if isinstance(v, float):
        return {"real": v}
    if isinstance(v, bytes):
        return {"data": v.hex()}
    if isinstance(v, datetime.datetime):
        return {"date": v.isoformat() + "Z"}
    if isinstance(v, list):
        return [tagged(x) for x in v]
    if isinstance(v, dict):
        return {k: tagged(x) for k, x in v.items()}
    raise TypeError(type(v))

with open(os.environ["KORVEL_PLIST_FILE"], "rb") as f:
    print(json.dumps(tagged(plistlib.load(f))))
)";

// Python's plistlib reading `file`, as tagged JSON. The paths reach python through the environment,
// so the command line stays fixed.
nlohmann::json readWithPlistlib(const TempDir& dir, const std::filesystem::path& file)
{
    const auto script = dir / "plistlib-to-json.py";
    writeText(script, plistlibScript);
    ::setenv("KORVEL_PLIST_SCRIPT", script.c_str(), 1);
    ::setenv("KORVEL_PLIST_FILE", file.c_str(), 1);
    std::unique_ptr<FILE, decltype(&::pclose)> pipe(::popen("python3 \"$KORVEL_PLIST_SCRIPT\"", "r"), &::pclose);
    if (!pipe)
        throw std::runtime_error("cannot start python3");
    std::string output;
    char buffer[4096];
    while (const size_t n = std::fread(buffer, 1, sizeof buffer, pipe.get()))
        output.append(buffer, n);
    const int status = ::pclose(pipe.release());
    if (status != 0)
        throw std::runtime_error("plistlib failed on " + file.string() + ": " + output);
    return nlohmann::json::parse(output);
}

Profile makeProfile(std::string name, ProfileColor color)
{
    return Profile {*Uuid::parse("6f1c2a4e-9b0d-4c1e-8a7f-3d2e1b0c9a88"), std::move(name), color, {}};
}

const std::filesystem::path dataDir =
    "/home/ada/.local/share/Korvel/Profiles/6F1C2A4E-9B0D-4C1E-8A7F-3D2E1B0C9A88/Data";

// Shaped like Claude Desktop's Info.plist, with a few entries of the rarer types added.
constexpr std::string_view claudeInfoPlist = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>BuildMachineOSBuild</key>
	<string>23H124</string>
	<key>CFBundleDevelopmentRegion</key>
	<string>en</string>
	<key>CFBundleDisplayName</key>
	<string>Claude</string>
	<key>CFBundleExecutable</key>
	<string>Claude</string>
	<key>CFBundleIconFile</key>
	<string>electron.icns</string>
	<key>CFBundleIconName</key>
	<string>AppIcon</string>
	<key>CFBundleIdentifier</key>
	<string>com.anthropic.claudefordesktop</string>
	<key>CFBundleInfoDictionaryVersion</key>
	<string>6.0</string>
	<key>CFBundleName</key>
	<string>Claude</string>
	<key>CFBundlePackageType</key>
	<string>APPL</string>
	<key>CFBundleShortVersionString</key>
	<string>0.14.10</string>
	<key>CFBundleSupportedPlatforms</key>
	<array>
		<string>MacOSX</string>
	</array>
	<key>CFBundleURLTypes</key>
	<array>
		<dict>
			<key>CFBundleURLName</key>
			<string>Claude</string>
			<key>CFBundleURLSchemes</key>
			<array>
				<string>claude</string>
			</array>
		</dict>
		<dict>
			<key>CFBundleTypeRole</key>
			<string>Viewer</string>
			<key>CFBundleURLSchemes</key>
			<array>
				<string>claude-dev</string>
				<string>claude-staging</string>
			</array>
		</dict>
	</array>
	<key>CFBundleVersion</key>
	<string>0.14.10.4521</string>
	<key>DTSDKBuild</key>
	<string>23C53</string>
	<key>ElectronAsarIntegrity</key>
	<dict>
		<key>Resources/app.asar</key>
		<dict>
			<key>algorithm</key>
			<string>SHA256</string>
			<key>hash</key>
			<string>9c3d1b2f4a5e6d7c8b9a0f1e2d3c4b5a69788796a5b4c3d2e1f0a9b8c7d6e5f4</string>
		</dict>
	</dict>
	<key>ElectronBuildDate</key>
	<date>2025-03-14T09:26:53Z</date>
	<key>ElectronTeamID</key>
	<string>Q6L2SF6YDW</string>
	<key>LSApplicationCategoryType</key>
	<string>public.app-category.productivity</string>
	<key>LSEnvironment</key>
	<dict>
		<key>MallocNanoZone</key>
		<string>0</string>
	</dict>
	<key>LSMinimumSystemVersion</key>
	<string>11.0</string>
	<key>NSAppTransportSecurity</key>
	<dict>
		<key>NSAllowsArbitraryLoads</key>
		<false/>
		<key>NSAllowsLocalNetworking</key>
		<true/>
		<key>NSExceptionDomains</key>
		<dict>
			<key>127.0.0.1</key>
			<dict>
				<key>NSIncludesSubdomains</key>
				<false/>
				<key>NSTemporaryExceptionAllowsInsecureHTTPLoads</key>
				<true/>
				<key>NSTemporaryExceptionMinimumTLSVersion</key>
				<string>1.0</string>
			</dict>
		</dict>
	</dict>
	<key>NSHighResolutionCapable</key>
	<true/>
	<key>NSMicrophoneUsageDescription</key>
	<string>Claude needs microphone access so that you can talk to it — it’s only used while you dictate &amp; never in the background.</string>
	<key>NSPrincipalClass</key>
	<string>AtomApplication</string>
	<key>NSRequiresAquaSystemAppearance</key>
	<false/>
	<key>ReleaseBuildNumber</key>
	<integer>4815162342</integer>
	<key>ReleaseChannelOffset</key>
	<integer>-12</integer>
	<key>SignatureSeed</key>
	<data>
	3q2+7wABAgP/
	</data>
	<key>WindowMinimumSizes</key>
	<array>
		<integer>480</integer>
		<integer>320</integer>
		<real>0.95</real>
	</array>
	<key>WindowOpacity</key>
	<real>0.95</real>
</dict>
</plist>
)";

// The entries patch() sets or removes.
const std::vector<std::string> patchedKeys = {"CFBundleIdentifier", "CFBundleDisplayName", "CFBundleExecutable",
    "CFBundleURLTypes", "CFBundleIconName", "CFBundleIconFile", "KVLUserDataDir", "KVLProfileID", "KVLSourceVersion",
    "KVLAppearance"};

template<typename Call>
FileError fileErrorOf(Call call)
{
    try {
        call();
    } catch (const FileError& error) {
        return error;
    }
    throw std::runtime_error("no FileError thrown");
}

size_t entryCount(const std::filesystem::path& folder)
{
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

} // namespace

TEST(InfoPlistPatcher, ReadsAClaudeInfoPlistWithEveryValueType)
{
    TempDir dir;
    writeText(dir / "Info.plist", claudeInfoPlist);
    const PlistDictionary plist = InfoPlistPatcher::read(dir / "Info.plist");

    EXPECT_EQ(plist.size(), 31u);
    EXPECT_EQ(readWithPlistlib(dir, dir / "Info.plist"), toJson(plist));
    const PlistArray* urlTypes = plist.at("CFBundleURLTypes").asArray();
    ASSERT_NE(urlTypes, nullptr);
    ASSERT_EQ(urlTypes->size(), 2u);
    EXPECT_EQ(urlTypes->at(1).asDictionary()->at("CFBundleURLSchemes"),
        PlistValue(PlistArray {"claude-dev", "claude-staging"}));
    EXPECT_EQ(plist.at("ReleaseBuildNumber").asInteger(), 4815162342);
    EXPECT_EQ(plist.at("ReleaseChannelOffset").asInteger(), -12);
    EXPECT_EQ(plist.at("WindowOpacity").asReal(), 0.95);
    EXPECT_EQ(plist.at("WindowMinimumSizes"), PlistValue(PlistArray {480, 320, 0.95}));
    EXPECT_EQ(plist.at("NSRequiresAquaSystemAppearance").asBoolean(), false);
    EXPECT_EQ(plist.at("NSAppTransportSecurity").asDictionary()->at("NSAllowsLocalNetworking").asBoolean(), true);
    EXPECT_EQ(plist.at("ElectronBuildDate").asDate(), Timestamp::parseIso8601("2025-03-14T09:26:53Z"));
    EXPECT_EQ(plist.at("SignatureSeed"), PlistValue(PlistData {0xde, 0xad, 0xbe, 0xef, 0x00, 0x01, 0x02, 0x03, 0xff}));
    EXPECT_EQ(InfoPlistPatcher::stringValue(plist, "NSMicrophoneUsageDescription"),
        "Claude needs microphone access so that you can talk to it — it’s only used while you dictate & never in "
        "the background.");
}

TEST(InfoPlistPatcher, PatchRewritesTheProfileEntriesAndKeepsEverythingElse)
{
    TempDir dir;
    writeText(dir / "Info.plist", claudeInfoPlist);
    const PlistDictionary source = InfoPlistPatcher::read(dir / "Info.plist");
    const PlistDictionary patched = InfoPlistPatcher::patch(source, makeProfile("Work", ProfileColor::Teal), dataDir);

    EXPECT_EQ(InfoPlistPatcher::stringValue(patched, "CFBundleIdentifier"),
        "com.veldrane.Korvel.profile.6f1c2a4e-9b0d-4c1e-8a7f-3d2e1b0c9a88");
    EXPECT_EQ(InfoPlistPatcher::stringValue(patched, "CFBundleDisplayName"), "Claude Work");
    EXPECT_EQ(InfoPlistPatcher::stringValue(patched, "CFBundleExecutable"), "KorvelLauncher");
    EXPECT_FALSE(patched.contains("CFBundleURLTypes"));
    EXPECT_FALSE(patched.contains("CFBundleIconName"));
    EXPECT_EQ(InfoPlistPatcher::stringValue(patched, "CFBundleIconFile"), "ProfileIcon");
    EXPECT_EQ(InfoPlistPatcher::stringValue(patched, "KVLUserDataDir"), dataDir.string());
    EXPECT_EQ(InfoPlistPatcher::stringValue(patched, "KVLProfileID"), "6F1C2A4E-9B0D-4C1E-8A7F-3D2E1B0C9A88");
    EXPECT_EQ(InfoPlistPatcher::stringValue(patched, "KVLSourceVersion"), "0.14.10");
    EXPECT_EQ(InfoPlistPatcher::stringValue(patched, "KVLAppearance"), "teal:W");
    EXPECT_FALSE(patched.contains("KVLLauncherHash"));

    // Two entries removed, four of ours added, nothing else touched (types included).
    EXPECT_EQ(patched.size(), source.size() - 2 + 4);
    for (const auto& [key, value] : source) {
        if (std::find(patchedKeys.begin(), patchedKeys.end(), key) == patchedKeys.end()) {
            ASSERT_TRUE(patched.contains(key)) << key;
            EXPECT_EQ(patched.at(key), value) << key;
        }
    }
    EXPECT_EQ(InfoPlistPatcher::stringValue(patched, "CFBundleName"), "Claude");
    EXPECT_EQ(InfoPlistPatcher::stringValue(patched, "CFBundleVersion"), "0.14.10.4521");
}

TEST(InfoPlistPatcher, WrittenXmlReadsBackEqualHereAndInPlistlib)
{
    TempDir dir;
    writeText(dir / "Source.plist", claudeInfoPlist);
    const PlistDictionary patched = InfoPlistPatcher::patch(
        InfoPlistPatcher::read(dir / "Source.plist"), makeProfile("Ünïcode / Test", ProfileColor::Graphite), dataDir);
    const auto file = dir / "Info.plist";
    InfoPlistPatcher::write(patched, file);

    const std::string xml = readText(file);
    EXPECT_TRUE(xml.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>")) << xml.substr(0, 80);
    EXPECT_NE(xml.find("<plist version=\"1.0\">"), std::string::npos);
    EXPECT_EQ(InfoPlistPatcher::read(file), patched);
    EXPECT_EQ(readWithPlistlib(dir, file), toJson(patched));
    EXPECT_EQ(readWithPlistlib(dir, file)["CFBundleDisplayName"], "Claude Ünïcode - Test");
}

TEST(InfoPlistPatcher, BinaryPlistIsReadAndWrittenBackAsEqualXml)
{
    using Node = std::unique_ptr<void, decltype(&plist_free)>;
    Node root(plist_new_dict(), &plist_free);
    plist_dict_set_item(root.get(), "CFBundleIdentifier", plist_new_string("com.anthropic.claudefordesktop"));
    plist_dict_set_item(root.get(), "CFBundleShortVersionString", plist_new_string("1.2.3"));
    plist_dict_set_item(root.get(), "Count", plist_new_uint(static_cast<uint64_t>(-42)));
    plist_dict_set_item(root.get(), "Big", plist_new_uint(4000000000u));
    plist_dict_set_item(root.get(), "Scale", plist_new_real(-2.5));
    plist_dict_set_item(root.get(), "Enabled", plist_new_bool(1));
    plist_dict_set_item(root.get(), "Built", plist_new_date(700000000, 0)); // seconds since 2001
    plist_dict_set_item(root.get(), "Blob", plist_new_data("\x00\x01\xfe", 3));
    plist_t types = plist_new_array();
    plist_t type = plist_new_dict();
    plist_t schemes = plist_new_array();
    plist_array_append_item(schemes, plist_new_string("claude"));
    plist_dict_set_item(type, "CFBundleURLSchemes", schemes);
    plist_array_append_item(types, type);
    plist_array_append_item(types, plist_new_bool(0));
    plist_dict_set_item(root.get(), "CFBundleURLTypes", types);
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root.get(), &bytes, &length);
    const std::string binary(bytes, length);
    plist_to_bin_free(bytes);
    ASSERT_TRUE(binary.starts_with("bplist00"));

    TempDir dir;
    writeText(dir / "Binary.plist", binary);
    const PlistDictionary expected = {
        {"CFBundleIdentifier", "com.anthropic.claudefordesktop"},
        {"CFBundleShortVersionString", "1.2.3"},
        {"Count", -42},
        {"Big", 4000000000u},
        {"Scale", -2.5},
        {"Enabled", true},
        {"Built", Timestamp {978307200.0 + 700000000}},
        {"Blob", PlistData {0x00, 0x01, 0xfe}},
        {"CFBundleURLTypes", PlistArray {PlistDictionary {{"CFBundleURLSchemes", PlistArray {"claude"}}}, false}},
    };
    const PlistDictionary read = InfoPlistPatcher::read(dir / "Binary.plist");
    EXPECT_EQ(read, expected);
    EXPECT_EQ(readWithPlistlib(dir, dir / "Binary.plist"), toJson(expected));

    InfoPlistPatcher::write(read, dir / "Info.plist");
    EXPECT_TRUE(readText(dir / "Info.plist").starts_with("<?xml"));
    EXPECT_EQ(InfoPlistPatcher::read(dir / "Info.plist"), expected);
    EXPECT_EQ(readWithPlistlib(dir, dir / "Info.plist"), toJson(expected));
}

TEST(InfoPlistPatcher, ExtremeIntegersAndDatesSurviveTheXmlForm)
{
    // libplist 2.2's accessors lose the sign of the largest integers and dates outside 1933–2069.
    const PlistDictionary plist = {
        {"Max", std::numeric_limits<uint64_t>::max()},
        {"Min", std::numeric_limits<int64_t>::min()},
        {"MinusOne", -1},
        {"Int64Max", std::numeric_limits<int64_t>::max()},
        {"Old", *Timestamp::parseIso8601("1900-01-01T00:00:00Z")},
        {"Future", *Timestamp::parseIso8601("2100-06-30T12:00:01Z")},
        {"BeforeReference", *Timestamp::parseIso8601("2000-12-31T23:59:59Z")},
        {"Empty", PlistDictionary {}},
        {"EmptyData", PlistData {}},
        {"EmptyString", ""},
    };
    TempDir dir;
    InfoPlistPatcher::write(plist, dir / "Info.plist");
    EXPECT_EQ(InfoPlistPatcher::read(dir / "Info.plist"), plist);
    const nlohmann::json python = readWithPlistlib(dir, dir / "Info.plist");
    EXPECT_EQ(python, toJson(plist));
    EXPECT_EQ(python["Max"].get<uint64_t>(), std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(python["MinusOne"].get<int64_t>(), -1);
    EXPECT_EQ(python["Future"]["date"], "2100-06-30T12:00:01Z");
}

TEST(InfoPlistPatcher, PatchEdgeCases)
{
    const Profile work = makeProfile("Work", ProfileColor::Teal);

    // No URL types, no icon name, no version: the keys stay absent and the version is "unknown".
    const PlistDictionary bare = InfoPlistPatcher::patch({}, work, dataDir);
    EXPECT_EQ(bare.size(), 8u);
    EXPECT_FALSE(bare.contains("CFBundleURLTypes"));
    EXPECT_FALSE(bare.contains("CFBundleIconName"));
    EXPECT_EQ(InfoPlistPatcher::stringValue(bare, "KVLSourceVersion"), "unknown");

    // A number where the version should be: "unknown", and the number stays a number.
    const PlistDictionary numeric =
        InfoPlistPatcher::patch({{"CFBundleShortVersionString", 14}, {"CFBundleURLTypes", "odd"}}, work, dataDir);
    EXPECT_EQ(InfoPlistPatcher::stringValue(numeric, "KVLSourceVersion"), "unknown");
    EXPECT_EQ(numeric.at("CFBundleShortVersionString"), PlistValue(14));
    EXPECT_FALSE(numeric.contains("CFBundleURLTypes"));

    // Rebuilt in place: our keys from an earlier build are replaced, the launcher hash is left to the builder.
    const PlistDictionary stale = {
        {"CFBundleShortVersionString", "2.0.0"},
        {"CFBundleIdentifier", "com.veldrane.Korvel.profile.00000000-0000-4000-8000-000000000000"},
        {"CFBundleDisplayName", "Claude Old"},
        {"CFBundleExecutable", "Claude"},
        {"CFBundleIconFile", "electron.icns"},
        {"KVLUserDataDir", "/old/Data"},
        {"KVLProfileID", "00000000-0000-4000-8000-000000000000"},
        {"KVLSourceVersion", "1.0.0"},
        {"KVLAppearance", "orange:O"},
        {"KVLLauncherHash", std::string(64, 'a')},
    };
    const PlistDictionary rebuilt = InfoPlistPatcher::patch(stale, work, dataDir);
    EXPECT_EQ(InfoPlistPatcher::stringValue(rebuilt, "CFBundleIdentifier"), work.bundleIdentifier());
    EXPECT_EQ(InfoPlistPatcher::stringValue(rebuilt, "CFBundleDisplayName"), "Claude Work");
    EXPECT_EQ(InfoPlistPatcher::stringValue(rebuilt, "CFBundleExecutable"), "KorvelLauncher");
    EXPECT_EQ(InfoPlistPatcher::stringValue(rebuilt, "CFBundleIconFile"), "ProfileIcon");
    EXPECT_EQ(InfoPlistPatcher::stringValue(rebuilt, "KVLUserDataDir"), dataDir.string());
    EXPECT_EQ(InfoPlistPatcher::stringValue(rebuilt, "KVLProfileID"), "6F1C2A4E-9B0D-4C1E-8A7F-3D2E1B0C9A88");
    EXPECT_EQ(InfoPlistPatcher::stringValue(rebuilt, "KVLSourceVersion"), "2.0.0");
    EXPECT_EQ(InfoPlistPatcher::stringValue(rebuilt, "KVLAppearance"), "teal:W");
    EXPECT_EQ(InfoPlistPatcher::stringValue(rebuilt, "KVLLauncherHash"), std::string(64, 'a'));
    EXPECT_EQ(rebuilt.size(), stale.size());

    EXPECT_EQ(InfoPlistPatcher::appearance(work), "teal:W");
    EXPECT_EQ(InfoPlistPatcher::appearance(makeProfile("  émile", ProfileColor::Orange)), "orange:É");
    EXPECT_EQ(InfoPlistPatcher::appearance(makeProfile("!!", ProfileColor::Graphite)), "graphite:?");
}

TEST(InfoPlistPatcher, ReadFailuresNameTheFileAndTheirKind)
{
    TempDir dir;
    FileError missing = fileErrorOf([&] { InfoPlistPatcher::read(dir / "Missing.plist"); });
    EXPECT_EQ(missing.kind(), FileError::Kind::ReadNoSuchFile);
    EXPECT_EQ(missing.path(), dir / "Missing.plist");

    std::filesystem::create_directory(dir / "Folder.plist");
    FileError folder = fileErrorOf([&] { InfoPlistPatcher::read(dir / "Folder.plist"); });
    EXPECT_EQ(folder.kind(), FileError::Kind::ReadUnknown);
    EXPECT_EQ(folder.errorNumber(), EISDIR);

    writeText(dir / "Array.plist",
        R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><array><string>a</string></array></plist>)");
    FileError array = fileErrorOf([&] { InfoPlistPatcher::read(dir / "Array.plist"); });
    EXPECT_EQ(array.kind(), FileError::Kind::PropertyListCorrupt);
    EXPECT_EQ(array.path(), dir / "Array.plist");
    EXPECT_EQ(array.detail(), "");

    for (const std::string_view garbage : {std::string_view("not a plist"), std::string_view(""),
             std::string_view("bplist00\x01\x02"), std::string_view("<plist version=\"1.0\"><dict><key>a</key>")}) {
        writeText(dir / "Garbage.plist", garbage);
        FileError corrupt = fileErrorOf([&] { InfoPlistPatcher::read(dir / "Garbage.plist"); });
        EXPECT_EQ(corrupt.kind(), FileError::Kind::PropertyListCorrupt) << garbage;
        EXPECT_EQ(corrupt.path(), dir / "Garbage.plist");
        EXPECT_FALSE(corrupt.detail().empty());
        EXPECT_NE(std::string(corrupt.what()).find((dir / "Garbage.plist").string()), std::string::npos);
    }
}

TEST(InfoPlistPatcher, FailedWriteLeavesThePreviousStateAndNoTemporary)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "Info.plist/inside");
    FileError folder = fileErrorOf([&] { InfoPlistPatcher::write({{"a", 1}}, dir / "Info.plist"); });
    EXPECT_EQ(folder.kind(), FileError::Kind::WriteUnknown);
    EXPECT_EQ(folder.path(), dir / "Info.plist");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "Info.plist/inside"));
    EXPECT_EQ(entryCount(dir.path()), 1u);

    EXPECT_EQ(fileErrorOf([&] { InfoPlistPatcher::write({}, dir / "Missing/Info.plist"); }).kind(),
        FileError::Kind::WriteUnknown);
    writeText(dir / "File", "x");
    EXPECT_EQ(fileErrorOf([&] { InfoPlistPatcher::write({}, dir / "File/Info.plist"); }).errorNumber(), ENOTDIR);

    // Values the XML form cannot hold fail before anything is written.
    const auto existing = dir / "Existing.plist";
    InfoPlistPatcher::write({{"a", 1}}, existing);
    const std::string before = readText(existing);
    const PlistDictionary unwritable[] = {
        {{"a", std::string("nul\0inside", 10)}}, {{std::string("k\0", 2), 1}},
        {{"a", PlistArray {Timestamp {-62135596800.0 - 86400}}}}, // the day before 0001-01-01
    };
    for (const auto& plist : unwritable) {
        FileError error = fileErrorOf([&] { InfoPlistPatcher::write(plist, existing); });
        EXPECT_EQ(error.kind(), FileError::Kind::WriteUnknown);
        EXPECT_FALSE(error.detail().empty());
        EXPECT_EQ(readText(existing), before);
    }
    EXPECT_EQ(entryCount(dir.path()), 3u);
}

TEST(InfoPlistPatcher, StringValues)
{
    TempDir dir;
    const PlistDictionary plist = {{"Name", "Claude"}, {"Count", 3}, {"Flag", true}};
    EXPECT_EQ(InfoPlistPatcher::stringValue(plist, "Name"), "Claude");
    EXPECT_EQ(InfoPlistPatcher::stringValue(plist, "Count"), std::nullopt);
    EXPECT_EQ(InfoPlistPatcher::stringValue(plist, "Missing"), std::nullopt);

    InfoPlistPatcher::write(plist, dir / "Info.plist");
    EXPECT_EQ(InfoPlistPatcher::readStringValue(dir / "Info.plist", "Name"), "Claude");
    EXPECT_EQ(InfoPlistPatcher::readStringValue(dir / "Info.plist", "Flag"), std::nullopt);
    EXPECT_EQ(InfoPlistPatcher::readStringValue(dir / "Missing.plist", "Name"), std::nullopt);
    writeText(dir / "Array.plist", R"(<plist version="1.0"><array><string>Claude</string></array></plist>)");
    EXPECT_EQ(InfoPlistPatcher::readStringValue(dir / "Array.plist", "Name"), std::nullopt);
}
