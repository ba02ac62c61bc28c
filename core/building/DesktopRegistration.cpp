#include "core/building/DesktopRegistration.hpp"

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
constexpr std::string_view category = "Utility;"; // as the installed korvel.desktop has it

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

// "<id>" or "korvel-<id>": the name of the entry and of its icons.
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
    // Written as the file holds it: decoding and encoding it again would only cost time.
    const std::optional<IcnsFile::Png> png = IcnsFile::largestPngInFile(file);
    if (!png)
        return std::nullopt;
    const std::string size = std::to_string(png->width) + "x" + std::to_string(png->height);
    const std::filesystem::path folder = iconTheme(dataHome) / size / "apps";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        FileError::throwWrite(folder, error.value());
    const std::filesystem::path icon = folder / (stem + ".png");
    AtomicFile::write(icon, png->bytes);
    return icon;
}

// Our entries in `applications` that name the bundle at `bundleLocation`, as file names.
std::vector<std::string> entriesNaming(const std::filesystem::path& applications, const std::string& bundleLocation)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& item : std::filesystem::directory_iterator(applications, error)) {
        const std::string name = item.path().filename().string();
        if (!name.ends_with(fileSuffix) ||
            !(name.starts_with(filePrefix) || Profile::profileIDFromBundleIdentifier(stemOf(name))))
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
        identifier && Profile::profileIDFromBundleIdentifier(*identifier)) {
        entry.set("StartupWMClass", *identifier);
        // A dock or menu start then hands Claude the desktop's activation token, which GNOME and KDE require
        // before they raise the running profile's window on a second start.
        entry.set("StartupNotify", "true");
        entry.set("Comment", "Claude with this profile’s own login and chat history");
        entry.set("Categories", std::string(category));
    }
    entry.set(std::string(bundleKey), location(bundle));
    return entry;
}

} // namespace

std::string fileName(std::string_view bundleIdentifier)
{
    // A profile app's entry is named after its identifier alone: Wayland docks match a window's app id to the entry
    // of that name. Other bundles' entries keep the prefix, never to hide an entry of the application itself.
    std::string name(Profile::profileIDFromBundleIdentifier(bundleIdentifier) ? "" : filePrefix);
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

std::vector<std::filesystem::path> installedDataDirs(const std::filesystem::path& dataHome)
{
    std::vector<std::filesystem::path> folders;
    for (const std::filesystem::path& folder : XdgFolders::dataDirs())
        if (folder.lexically_normal() != dataHome.lexically_normal())
            folders.push_back(folder);
    return folders;
}

void keepInstalledKeys(DesktopEntry& entry, const std::vector<std::filesystem::path>& installedDataDirs)
{
    for (const std::filesystem::path& folder : installedDataDirs) {
        std::optional<DesktopEntry> installed;
        try {
            installed = DesktopEntry::read(folder / "applications" / std::string(ownFileName));
        } catch (const FileError&) {
            continue; // not in this folder
        }
        for (const auto& [key, value] : installed->entries())
            if (!entry.value(key))
                entry.set(key, value);
        return;
    }
    if (!entry.value("Comment"))
        entry.set("Comment", "Several Claude accounts side by side");
    if (!entry.value("Categories"))
        entry.set("Categories", std::string(category));
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
