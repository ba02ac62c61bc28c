#include "core/transfer/DesktopRegistration.hpp"

#include "core/building/AppBundle.hpp"
#include "core/building/InfoPlistPatcher.hpp"
#include "core/support/FileError.hpp"

#include <cerrno>
#include <unistd.h>

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

} // namespace

std::string fileName(std::string_view bundleIdentifier)
{
    return std::string(filePrefix) + std::string(bundleIdentifier) + std::string(fileSuffix);
}

DesktopEntry entryFor(
    const std::filesystem::path& bundle, std::string_view fieldCode, const std::optional<std::filesystem::path>& icon)
{
    const std::filesystem::path infoPlist = AppBundle::infoPlist(bundle);
    const PlistDictionary plist = InfoPlistPatcher::read(infoPlist);
    const auto executable = AppBundle::executable(bundle);
    if (!executable)
        throw FileError(FileError::Kind::ReadCorrupt, infoPlist, 0, "it names no executable");
    if (::access(executable->c_str(), X_OK) != 0)
        FileError::throwRead(*executable, errno);

    DesktopEntry entry;
    entry.set("Type", "Application");
    entry.set("Name", displayName(plist, bundle));
    entry.set("Exec", DesktopEntry::execLine({executable->string()}, fieldCode));
    if (icon)
        entry.set("Icon", icon->string());
    if (const std::string types = schemeTypes(plist); !types.empty())
        entry.set("MimeType", types);
    entry.set("Terminal", "false");
    entry.set(std::string(bundleKey), bundle.string());
    return entry;
}

std::filesystem::path registerBundle(const std::filesystem::path& bundle, const std::filesystem::path& applicationsDir,
    const std::optional<std::filesystem::path>& icon)
{
    const auto identifier = AppBundle::identifier(bundle);
    if (!identifier || identifier->empty() || identifier->find('/') != std::string::npos)
        throw FileError(FileError::Kind::ReadCorrupt, AppBundle::infoPlist(bundle), 0, "it has no bundle identifier");
    const std::filesystem::path file = applicationsDir / fileName(*identifier);
    entryFor(bundle, "%U", icon).write(file);
    return file;
}

void unregisterBundle(const std::filesystem::path& bundle, const std::filesystem::path& applicationsDir)
{
    std::error_code error;
    std::filesystem::directory_iterator entries(applicationsDir, error);
    if (error)
        return; // no applications folder: nothing is registered
    for (const auto& item : entries) {
        const std::string name = item.path().filename().string();
        if (!name.starts_with(filePrefix) || !name.ends_with(fileSuffix))
            continue;
        std::optional<std::string> named;
        try {
            named = DesktopEntry::read(item.path()).value(bundleKey);
        } catch (const FileError&) {
            continue; // gone meanwhile or unreadable: not ours to judge
        }
        if (named && std::filesystem::path(*named) == bundle && ::unlink(item.path().c_str()) != 0 && errno != ENOENT)
            FileError::throwWrite(item.path(), errno);
    }
}

} // namespace korvel::DesktopRegistration
