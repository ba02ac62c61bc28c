#include "core/desktop/DesktopRegistration.hpp"

#include "core/building/AppBundle.hpp"
#include "core/building/IcnsFile.hpp"
#include "core/building/InfoPlistPatcher.hpp"
#include "core/model/Profile.hpp"
#include "core/support/AtomicFile.hpp"
#include "core/support/FileError.hpp"

#include <stdexcept>
#include <vector>

namespace korvel::DesktopRegistration {
namespace {

constexpr std::string_view filePrefix = "korvel-";
constexpr std::string_view fileSuffix = ".desktop";

std::string displayName(const PlistDictionary& plist, const std::filesystem::path& bundle)
{
    for (const char* key : {"CFBundleDisplayName", "CFBundleName"})
        if (auto name = InfoPlistPatcher::stringValue(plist, key); name && !name->empty())
            return *name;
    return bundle.stem().string();
}

// "x-scheme-handler/a;x-scheme-handler/b;" for the schemes of CFBundleURLTypes, empty when there are none.
std::string schemeTypes(const PlistDictionary& plist)
{
    std::string types;
    const auto urlTypes = plist.find("CFBundleURLTypes");
    if (urlTypes == plist.end() || !urlTypes->second.asArray())
        return types;
    for (const PlistValue& urlType : *urlTypes->second.asArray()) {
        const PlistDictionary* entry = urlType.asDictionary();
        const auto schemes = entry ? entry->find("CFBundleURLSchemes") : PlistDictionary::const_iterator();
        if (!entry || schemes == entry->end() || !schemes->second.asArray())
            continue;
        for (const PlistValue& scheme : *schemes->second.asArray())
            if (const std::string* name = scheme.asString(); name && !name->empty())
                types += "x-scheme-handler/" + *name + ";";
    }
    return types;
}

std::string requiredValue(const PlistDictionary& plist, std::string_view key, const std::filesystem::path& bundle)
{
    const auto value = InfoPlistPatcher::stringValue(plist, key);
    if (!value || value->empty())
        throw std::runtime_error(bundle.string() + ": Info.plist lacks " + std::string(key));
    return *value;
}

std::filesystem::path iconTheme(const std::filesystem::path& dataHome)
{
    return dataHome / "icons" / "hicolor";
}

// "korvel-<id>": the name of the entry and of its icons.
std::string stemOf(const std::string& entryFileName)
{
    return entryFileName.substr(0, entryFileName.size() - fileSuffix.size());
}

void removeIcons(const std::filesystem::path& dataHome, const std::string& stem)
{
    std::error_code error;
    for (const auto& size : std::filesystem::directory_iterator(iconTheme(dataHome), error)) {
        const std::filesystem::path icon = size.path() / "apps" / (stem + ".png");
        if (std::filesystem::is_regular_file(std::filesystem::symlink_status(icon)) &&
            !std::filesystem::remove(icon, error))
            FileError::throwWrite(icon, error.value());
    }
}

// The largest image of the bundle's icon as a PNG in the icon theme; nothing when the bundle has none.
std::optional<std::filesystem::path> installIcon(const PlistDictionary& plist, const std::filesystem::path& bundle,
    const std::filesystem::path& dataHome, const std::string& stem)
{
    removeIcons(dataHome, stem);
    const auto name = InfoPlistPatcher::stringValue(plist, "CFBundleIconFile");
    if (!name || name->empty())
        return std::nullopt;
    std::filesystem::path file = bundle / "Contents" / "Resources" / *name;
    if (file.extension().empty())
        file += ".icns";
    const std::optional<Bitmap> image = IcnsFile::largestImageInFile(file);
    const std::optional<std::string> png = image ? image->encodePng() : std::nullopt;
    if (!png)
        return std::nullopt;
    const std::string size = std::to_string(image->width()) + "x" + std::to_string(image->height());
    const std::filesystem::path folder = iconTheme(dataHome) / size / "apps";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        FileError::throwWrite(folder, error.value());
    const std::filesystem::path icon = folder / (stem + ".png");
    AtomicFile::write(icon, *png);
    return icon;
}

// Our entries in `applications` that name the bundle at `bundleLocation`, as file names.
std::vector<std::string> entriesNaming(const std::filesystem::path& applications, const std::string& bundleLocation)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& item : std::filesystem::directory_iterator(applications, error)) {
        const std::string name = item.path().filename().string();
        if (!name.starts_with(filePrefix) || !name.ends_with(fileSuffix))
            continue;
        try {
            if (DesktopEntry::read(item.path()).value(bundleKey) == bundleLocation)
                names.push_back(name);
        } catch (const FileError&) {
            // An entry we cannot read names no bundle we know of.
        }
    }
    return names;
}

void removeEntry(const std::filesystem::path& dataHome, const std::string& name)
{
    const std::filesystem::path entry = dataHome / "applications" / name;
    std::error_code error;
    std::filesystem::remove(entry, error);
    if (error)
        FileError::throwWrite(entry, error.value());
    removeIcons(dataHome, stemOf(name));
}

DesktopEntry entryFrom(const PlistDictionary& plist, const std::filesystem::path& bundle, std::string_view fieldCode,
    const std::optional<std::filesystem::path>& icon)
{
    const std::filesystem::path executable =
        bundle / "Contents" / "MacOS" / requiredValue(plist, "CFBundleExecutable", bundle);
    DesktopEntry entry;
    entry.set("Type", "Application");
    entry.set("Name", displayName(plist, bundle));
    entry.set("Exec", DesktopEntry::execLine({executable.string()}, fieldCode));
    if (icon)
        entry.set("Icon", icon->string());
    if (const std::string types = schemeTypes(plist); !types.empty())
        entry.set("MimeType", types);
    entry.set("Terminal", "false");
    // Korvel names a profile app's windows after its identifier (they would carry Claude's name otherwise), so
    // that docks group them under this entry.
    if (const auto identifier = InfoPlistPatcher::stringValue(plist, "CFBundleIdentifier");
        identifier && Profile::profileIDFromBundleIdentifier(*identifier))
        entry.set("StartupWMClass", *identifier);
    entry.set(std::string(bundleKey), location(bundle));
    return entry;
}

} // namespace

std::string fileName(std::string_view bundleIdentifier)
{
    std::string name(filePrefix);
    for (const char c : bundleIdentifier) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
            c == '-' || c == '_';
        name += safe ? c : '_';
    }
    return name + std::string(fileSuffix);
}

std::string location(const std::filesystem::path& bundle)
{
    std::string text = std::filesystem::absolute(bundle).lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

DesktopEntry entryFor(
    const std::filesystem::path& bundle, std::string_view fieldCode, const std::optional<std::filesystem::path>& icon)
{
    return entryFrom(InfoPlistPatcher::read(AppBundle::infoPlist(bundle)), location(bundle), fieldCode, icon);
}

std::filesystem::path registerBundle(const std::filesystem::path& bundle, const std::filesystem::path& dataHome)
{
    const std::filesystem::path path = location(bundle);
    const PlistDictionary plist = InfoPlistPatcher::read(AppBundle::infoPlist(path));
    const std::string name = fileName(requiredValue(plist, "CFBundleIdentifier", path));
    DesktopEntry entry = entryFrom(plist, path, "%U", std::nullopt); // refuses a bundle before anything changes
    const std::filesystem::path applications = dataHome / "applications";
    // The bundle may have been registered under an identifier it no longer has.
    for (const std::string& old : entriesNaming(applications, path.string()))
        if (old != name)
            removeEntry(dataHome, old);
    if (const auto icon = installIcon(plist, path, dataHome, stemOf(name)))
        entry.set("Icon", icon->string());
    entry.write(applications / name);
    return applications / name;
}

void unregisterBundle(const std::filesystem::path& bundle, const std::filesystem::path& dataHome)
{
    for (const std::string& name : entriesNaming(dataHome / "applications", location(bundle)))
        removeEntry(dataHome, name);
}

} // namespace korvel::DesktopRegistration
