#include "tests/support/StandInClaude.hpp"

#include "tests/support/SolidBitmap.hpp"
#include "tests/support/TempDir.hpp"

#include "core/building/IcnsFile.hpp"
#include "core/building/InfoPlistPatcher.hpp"
#include "core/building/ProfileBundleKeys.hpp"

#include <memory>
#include <plist/plist.h>
#include <stdexcept>
#include <vector>

namespace korvel::test {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view claudeScript = R"sh(#!/bin/sh
# Stand-in for Claude Desktop: records how it was started, then exits or waits for SIGTERM.
record=${KORVEL_STANDIN_RECORD:-}
for argument in "$@"; do
    case $argument in --user-data-dir=*) [ -n "$record" ] || record="${argument#--user-data-dir=}/standin-record.txt" ;; esac
done
[ -z "$record" ] || {
    printf 'begin\000argc=%d\000' "$(($# + 1))"
    printf '%s\000' "$0" "$@"
    printf 'pid=%d\000cwd=%s\000' "$$" "$(pwd -P)"
    env -0
    printf 'end\000'
} >>"$record"
if [ "${KORVEL_STANDIN_STAY:-}" = 1 ]; then
    trap 'exit 0' TERM
    while :; do sleep 0.2; done
fi
exit 0
)sh";

fs::path infoPlistOf(const fs::path& bundle)
{
    return bundle / "Contents" / "Info.plist";
}

// An Info.plist of string entries, then the `extra` XML entries as they are.
std::string infoPlist(const std::vector<std::pair<std::string, std::string>>& strings, const std::string& extra = "")
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
    for (const auto& [key, value] : strings)
        xml += "<key>" + key + "</key><string>" + value + "</string>\n";
    return xml + extra + "</dict>\n</plist>\n";
}

// Deterministic bytes that do not compress, so that copies and hashes do real work.
std::string noise(std::uint64_t seed, std::uint64_t size)
{
    std::string bytes(size, '\0');
    std::uint64_t state = seed * 0x9E3779B97F4A7C15ULL + 1;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<char>(state >> 56);
    }
    return bytes;
}

// The keys Korvel reads and rewrites, and a value of each rarer type that a rebuild must carry over.
std::string claudeInfo(const StandInClaude::Options& options)
{
    return infoPlist(
        {{"CFBundleIdentifier", std::string(StandInClaude::bundleIdentifier)}, {"CFBundleName", "Claude"},
            {"CFBundleDisplayName", "Claude"}, {"CFBundleExecutable", "Claude"}, {"CFBundlePackageType", "APPL"},
            {"CFBundleShortVersionString", options.version}, {"CFBundleVersion", "1.2.3.100"},
            {"CFBundleIconName", "AppIcon"}, {"CFBundleIconFile", "electron.icns"}},
        "<key>CFBundleURLTypes</key><array><dict><key>CFBundleURLSchemes</key><array><string>claude</string></array>"
        "</dict></array>\n<key>NSHighResolutionCapable</key><true/>\n"
        "<key>ElectronBuildNumber</key><integer>4815162342</integer>\n<key>ElectronOffset</key><integer>-12</integer>\n"
        "<key>ElectronAsarHeader</key><data>\n\t3q2+7wABAgP/\n\t</data>\n<key>ElectronOpacity</key><real>0.95</real>\n"
        "<key>ElectronBuildDate</key><date>2025-03-14T09:26:53Z</date>\n"
        "<key>NSMicrophoneUsageDescription</key><string>It’s only used while you dictate — &amp; never.</string>\n");
}

} // namespace

fs::path StandInClaude::create(const fs::path& folder, const Options& options)
{
    const fs::path bundle = folder / "Claude.app", contents = bundle / "Contents", resources = contents / "Resources";
    writeText(contents / "Info.plist", claudeInfo(options));
    writeExecutable(executable(bundle), claudeScript);
    writeText(resources / "electron.icns",
        IcnsFile::encode({solidBitmap(128, 128, 0xffd97857u), solidBitmap(256, 256, 0xffd97857u),
                             solidBitmap(512, 512, 0xffd97857u)})
            .value());
    // Bulk in files of Electron's sizes that do not compress, and what a benchmark asks for.
    for (const auto& [file, size] : std::vector<std::pair<std::string, int>> {{"app.asar", 300 * 1024},
             {"app.asar.unpacked/node_modules/native/index.node", 20 * 1024}, {"en.lproj/locale.pak", 3000},
             {"de.lproj/locale.pak", 3700}, {"ja.lproj/locale.pak", 4400}})
        writeText(resources / file, noise(size, size));
    for (int index = 0; index < options.payloadFiles; ++index)
        writeText(resources / "payload" / std::to_string(index / 100) / ("file-" + std::to_string(index) + ".bin"),
            noise(1000 + index, options.payloadBytes / static_cast<std::uint64_t>(options.payloadFiles)));

    // Nested helper apps and an Electron-like framework: versioned contents behind relative links.
    for (const std::string name : {"Claude Helper", "Claude Helper (Renderer)"}) {
        const fs::path helper = contents / "Frameworks" / (name + ".app") / "Contents";
        writeText(helper / "Info.plist",
            infoPlist({{"CFBundleIdentifier", "com.anthropic.claudefordesktop.helper"}, {"CFBundleExecutable", name}}));
        writeExecutable(helper / "MacOS" / name, "#!/bin/sh\nexit 0\n");
    }
    const fs::path framework = contents / "Frameworks/Electron Framework.framework";
    writeExecutable(framework / "Versions/A/Electron Framework", noise(11, 160 * 1024));
    writeText(framework / "Versions/A/Resources/resources.pak", noise(20, 24000));
    fs::create_directory_symlink("A", framework / "Versions/Current");
    fs::create_symlink("Versions/Current/Electron Framework", framework / "Electron Framework");
    fs::create_directory_symlink("Versions/Current/Resources", framework / "Resources");
    return bundle;
}

void StandInClaude::installLauncher(
    const fs::path& bundle, const fs::path& launcher, const std::optional<std::string>& dataDir)
{
    const std::string name(ProfileBundleKeys::launcherExecutable), key(ProfileBundleKeys::userDataDir);
    writeExecutable(bundle / "Contents" / "MacOS" / name, readText(launcher));
    setInfo(bundle, "CFBundleExecutable", name);
    setInfo(bundle, key, dataDir ? std::optional<PlistValue>(*dataDir) : std::nullopt);
}

void StandInClaude::setInfo(const fs::path& bundle, const std::string& key, std::optional<PlistValue> value)
{
    PlistDictionary info = InfoPlistPatcher::read(infoPlistOf(bundle));
    if (value)
        info[key] = std::move(*value);
    else
        info.erase(key);
    InfoPlistPatcher::write(info, infoPlistOf(bundle));
}

void StandInClaude::convertInfoToBinary(const fs::path& bundle)
{
    const std::string xml = readText(infoPlistOf(bundle));
    plist_t root = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    plist_free(root);
    writeText(infoPlistOf(bundle), std::string(bytes, length));
    plist_to_bin_free(bytes);
}

} // namespace korvel::test
