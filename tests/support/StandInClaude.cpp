#include "tests/support/StandInClaude.hpp"

#include "tests/support/TempDir.hpp"

#include "core/building/ProfileBundleKeys.hpp"

#include <cairo.h>
#include <cmath>
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
if [ -z "$record" ]; then
    for argument in "$@"; do
        case $argument in
        --user-data-dir=*)
            record="${argument#--user-data-dir=}/standin-record.txt"
            break
            ;;
        esac
    done
fi
if [ -n "$record" ]; then
    {
        printf 'begin\000argc=%d\000' "$(($# + 1))"
        printf '%s\000' "$0" "$@"
        printf 'pid=%d\000cwd=%s\000' "$$" "$(pwd -P)"
        env -0
        printf 'end\000'
    } >>"$record"
fi
if [ "${KORVEL_STANDIN_STAY:-}" = 1 ]; then
    trap 'exit 0' TERM
    while :; do sleep 0.2; done
fi
exit 0
)sh";

constexpr std::string_view helperScript = "#!/bin/sh\nexit 0\n";

struct PlistFree
{
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using Plist = std::unique_ptr<void, PlistFree>;

fs::path infoPlistOf(const fs::path& bundle)
{
    return bundle / "Contents" / "Info.plist";
}

Plist readPlist(const fs::path& file)
{
    const std::string bytes = readText(file);
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    if (!root || plist_get_node_type(root) != PLIST_DICT)
        throw std::runtime_error("not a property list dictionary: " + file.string());
    return Plist(root);
}

void writePlist(const fs::path& file, const Plist& root, bool binary = false)
{
    char* bytes = nullptr;
    uint32_t length = 0;
    if (binary)
        plist_to_bin(root.get(), &bytes, &length);
    else
        plist_to_xml(root.get(), &bytes, &length);
    if (!bytes)
        throw std::runtime_error("cannot serialise " + file.string());
    const std::string copy(bytes, length);
    binary ? plist_to_bin_free(bytes) : plist_to_xml_free(bytes);
    writeText(file, copy);
}

template<typename Edit>
void editInfo(const fs::path& bundle, Edit edit)
{
    const Plist root = readPlist(infoPlistOf(bundle));
    edit(root.get());
    writePlist(infoPlistOf(bundle), root);
}

void setString(plist_t dict, const char* key, const std::string& value)
{
    plist_dict_set_item(dict, key, plist_new_string(value.c_str()));
}

plist_t stringArray(std::initializer_list<const char*> values)
{
    plist_t array = plist_new_array();
    for (const char* value : values)
        plist_array_append_item(array, plist_new_string(value));
    return array;
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

void writeExecutable(const fs::path& file, std::string_view bytes)
{
    writeText(file, bytes);
    fs::permissions(file, fs::perms(0755));
}

Plist claudeInfo(const StandInClaude::Options& options)
{
    Plist root(plist_new_dict());
    plist_t dict = root.get();
    setString(dict, "CFBundleIdentifier", std::string(StandInClaude::bundleIdentifier));
    setString(dict, "CFBundleName", "Claude");
    setString(dict, "CFBundleDisplayName", "Claude");
    setString(dict, "CFBundleExecutable", "Claude");
    setString(dict, "CFBundlePackageType", "APPL");
    setString(dict, "CFBundleInfoDictionaryVersion", "6.0");
    setString(dict, "CFBundleShortVersionString", options.version);
    setString(dict, "CFBundleVersion", options.buildVersion);
    setString(dict, "CFBundleIconName", "AppIcon");
    setString(dict, "CFBundleIconFile", "electron.icns");
    setString(dict, "LSMinimumSystemVersion", "11.0");
    plist_t urlType = plist_new_dict();
    setString(urlType, "CFBundleURLName", "Claude");
    plist_dict_set_item(urlType, "CFBundleURLSchemes", stringArray({"claude"}));
    plist_t urlTypes = plist_new_array();
    plist_array_append_item(urlTypes, urlType);
    plist_dict_set_item(dict, "CFBundleURLTypes", urlTypes);
    plist_dict_set_item(dict, "NSHighResolutionCapable", plist_new_bool(1));
    plist_dict_set_item(dict, "ElectronBuildNumber", plist_new_uint(4242));
    const std::string blob = noise(7, 24);
    plist_dict_set_item(dict, "ElectronAsarHeader", plist_new_data(blob.data(), blob.size()));
    plist_dict_set_item(dict, "ElectronBuildDate", plist_new_date(757382400, 0)); // 2025-01-01, from 2001
    return root;
}

Plist bundleInfo(const char* identifier, const char* name, const char* packageType)
{
    Plist root(plist_new_dict());
    setString(root.get(), "CFBundleIdentifier", identifier);
    setString(root.get(), "CFBundleName", name);
    setString(root.get(), "CFBundleExecutable", name);
    setString(root.get(), "CFBundlePackageType", packageType);
    return root;
}

void layOutHelper(const fs::path& frameworks, const std::string& name, const char* identifier)
{
    const fs::path contents = frameworks / (name + ".app") / "Contents";
    writePlist(contents / "Info.plist", bundleInfo(identifier, name.c_str(), "APPL"));
    writeText(contents / "PkgInfo", "APPL????");
    writeExecutable(contents / "MacOS" / name, helperScript);
}

void layOutFramework(const fs::path& frameworks)
{
    const fs::path framework = frameworks / "Electron Framework.framework";
    const fs::path version = framework / "Versions" / "A";
    writeExecutable(version / "Electron Framework", noise(11, 160 * 1024));
    writePlist(version / "Resources" / "Info.plist",
        bundleInfo("com.github.Electron.framework", "Electron Framework", "FMWK"));
    for (int index = 0; index < 4; ++index)
        writeText(version / "Resources" / ("resources_" + std::to_string(index) + ".pak"), noise(20 + index, 6000));
    writeText(version / "Libraries" / "libffmpeg.dylib", noise(30, 40 * 1024));
    fs::create_directory_symlink("A", framework / "Versions" / "Current");
    fs::create_symlink("Versions/Current/Electron Framework", framework / "Electron Framework");
    fs::create_directory_symlink("Versions/Current/Resources", framework / "Resources");
    fs::create_directory_symlink("Versions/Current/Libraries", framework / "Libraries");
}

void layOutResources(const fs::path& resources)
{
    writeText(resources / "electron.icns", StandInClaude::icns());
    writeText(resources / "app.asar", noise(1, 300 * 1024));
    writeText(resources / "app.asar.unpacked" / "node_modules" / "native" / "index.node", noise(2, 20 * 1024));
    unsigned seed = 100;
    for (const char* locale : {"en", "de", "fr", "ja", "ko", "es", "it", "pt_BR", "zh_CN", "nl"}) {
        const fs::path folder = resources / (std::string(locale) + ".lproj");
        writeText(folder / "InfoPlist.strings", "\"CFBundleDisplayName\" = \"Claude\";\n");
        writeText(folder / "locale.pak", noise(seed, 3000 + 700 * (seed % 7)));
        ++seed;
    }
}

void layOutPayload(const fs::path& resources, int files, std::uint64_t bytes)
{
    if (files <= 0)
        return;
    const std::uint64_t each = bytes / static_cast<std::uint64_t>(files);
    for (int index = 0; index < files; ++index) {
        const fs::path folder = resources / "payload" / std::to_string(index / 100);
        writeText(folder / ("file-" + std::to_string(index) + ".bin"), noise(1000 + index, each));
    }
}

std::string pngOfSquare(int size, double red, double green, double blue)
{
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size), cairo_surface_destroy);
    std::unique_ptr<cairo_t, decltype(&cairo_destroy)> cr(cairo_create(surface.get()), cairo_destroy);
    const double inset = size * 0.1, side = size - 2 * inset, radius = side * 0.225;
    cairo_new_sub_path(cr.get());
    cairo_arc(cr.get(), inset + side - radius, inset + radius, radius, -M_PI / 2, 0);
    cairo_arc(cr.get(), inset + side - radius, inset + side - radius, radius, 0, M_PI / 2);
    cairo_arc(cr.get(), inset + radius, inset + side - radius, radius, M_PI / 2, M_PI);
    cairo_arc(cr.get(), inset + radius, inset + radius, radius, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr.get());
    cairo_set_source_rgb(cr.get(), red, green, blue);
    cairo_fill(cr.get());
    cairo_arc(cr.get(), size / 2.0, size / 2.0, side * 0.25, 0, 2 * M_PI);
    cairo_set_source_rgb(cr.get(), 1, 1, 1);
    cairo_fill(cr.get());
    std::string png;
    const auto append = [](void* closure, const unsigned char* data, unsigned int length) {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
        return CAIRO_STATUS_SUCCESS;
    };
    if (cairo_surface_write_to_png_stream(surface.get(), append, &png) != CAIRO_STATUS_SUCCESS)
        throw std::runtime_error("cannot encode a PNG");
    return png;
}

void appendBigEndian(std::string& bytes, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes += static_cast<char>((value >> shift) & 0xff);
}

} // namespace

fs::path StandInClaude::create(const fs::path& folder)
{
    return create(folder, Options {});
}

fs::path StandInClaude::create(const fs::path& folder, const Options& options)
{
    const fs::path bundle = folder / "Claude.app";
    const fs::path contents = bundle / "Contents";
    fs::create_directories(contents);
    writePlist(contents / "Info.plist", claudeInfo(options));
    writeText(contents / "PkgInfo", "APPL????");
    writeExecutable(executable(bundle), claudeScript);
    layOutResources(contents / "Resources");
    layOutPayload(contents / "Resources", options.payloadFiles, options.payloadBytes);
    const fs::path frameworks = contents / "Frameworks";
    layOutHelper(frameworks, "Claude Helper", "com.anthropic.claudefordesktop.helper");
    layOutHelper(frameworks, "Claude Helper (Renderer)", "com.anthropic.claudefordesktop.helper.Renderer");
    layOutFramework(frameworks);
    return bundle;
}

fs::path StandInClaude::executable(const fs::path& bundle)
{
    return bundle / "Contents" / "MacOS" / "Claude";
}

fs::path StandInClaude::recordFile(const fs::path& dataDir)
{
    return dataDir / recordFileName;
}

void StandInClaude::installLauncher(
    const fs::path& bundle, const fs::path& launcher, const std::optional<std::string>& dataDir)
{
    const std::string name(ProfileBundleKeys::launcherExecutable), key(ProfileBundleKeys::userDataDir);
    const fs::path installed = bundle / "Contents" / "MacOS" / name;
    fs::copy_file(launcher, installed, fs::copy_options::overwrite_existing);
    fs::permissions(installed, fs::perms(0755));
    editInfo(bundle, [&](plist_t dict) {
        setString(dict, "CFBundleExecutable", name);
        if (dataDir)
            setString(dict, key.c_str(), *dataDir);
        else
            plist_dict_remove_item(dict, key.c_str());
    });
}

void StandInClaude::setInfoString(const fs::path& bundle, const std::string& key, const std::string& value)
{
    editInfo(bundle, [&](plist_t dict) { setString(dict, key.c_str(), value); });
}

void StandInClaude::setInfoInteger(const fs::path& bundle, const std::string& key, std::int64_t value)
{
    editInfo(bundle, [&](plist_t dict) {
        plist_dict_set_item(dict, key.c_str(), plist_new_uint(static_cast<std::uint64_t>(value)));
    });
}

void StandInClaude::removeInfoKey(const fs::path& bundle, const std::string& key)
{
    editInfo(bundle, [&](plist_t dict) { plist_dict_remove_item(dict, key.c_str()); });
}

void StandInClaude::convertInfoToBinary(const fs::path& bundle)
{
    writePlist(infoPlistOf(bundle), readPlist(infoPlistOf(bundle)), true);
}

std::string StandInClaude::icns(double red, double green, double blue)
{
    std::string entries;
    for (const auto& [type, size] : {std::pair {"ic07", 128}, std::pair {"ic08", 256}, std::pair {"ic09", 512}}) {
        const std::string png = pngOfSquare(size, red, green, blue);
        entries += type;
        appendBigEndian(entries, static_cast<std::uint32_t>(8 + png.size()));
        entries += png;
    }
    std::string file = "icns";
    appendBigEndian(file, static_cast<std::uint32_t>(8 + entries.size()));
    return file + entries;
}

} // namespace korvel::test
