#include "core/building/InfoPlistPatcher.hpp"

#include "core/building/InfoPlistKeys.hpp"
#include "core/building/ProfileBundleKeys.hpp"
#include "core/building/PropertyList.hpp"
#include "core/model/ClaudeVersion.hpp"
#include "core/support/AtomicFile.hpp"
#include "core/support/FileError.hpp"

#include <cerrno>
#include <stdexcept>

namespace korvel::InfoPlistPatcher {
namespace {

constexpr std::string_view unknownVersion = "unknown";

void set(PlistDictionary& plist, std::string_view key, std::string value)
{
    plist.insert_or_assign(std::string(key), PlistValue(std::move(value)));
}

void remove(PlistDictionary& plist, std::string_view key)
{
    if (const auto entry = plist.find(key); entry != plist.end())
        plist.erase(entry);
}

} // namespace

PlistDictionary read(const std::filesystem::path& file)
{
    const std::string bytes = AtomicFile::read(file);
    PlistValue root;
    try {
        root = PropertyList::parse(bytes);
    } catch (const std::invalid_argument& error) {
        throw FileError(FileError::Kind::PropertyListCorrupt, file, 0, error.what());
    }
    PlistDictionary* dictionary = root.asDictionary();
    if (!dictionary)
        throw FileError(FileError::Kind::PropertyListCorrupt, file);
    return std::move(*dictionary);
}

PlistDictionary patch(PlistDictionary plist, const Profile& profile, const std::filesystem::path& dataDir)
{
    const auto version = stringValue(plist, InfoPlistKeys::shortVersionString);
    const std::string sourceVersion = version
        ? ClaudeVersion::checked(*version, "Claude’s Info.plist").value_or(std::string(unknownVersion))
        : std::string(unknownVersion);
    set(plist, InfoPlistKeys::bundleIdentifier, profile.bundleIdentifier());
    set(plist, InfoPlistKeys::displayName, profile.appDisplayName());
    set(plist, InfoPlistKeys::executable, std::string(ProfileBundleKeys::launcherExecutable));
    // The main application routes claude:// links; a profile app must not claim them.
    remove(plist, InfoPlistKeys::urlTypes);
    // An asset-catalogue icon name would win over our icon file.
    remove(plist, InfoPlistKeys::iconName);
    set(plist, InfoPlistKeys::iconFile, std::string(ProfileBundleKeys::iconFileName));
    set(plist, ProfileBundleKeys::userDataDir, dataDir.string());
    set(plist, ProfileBundleKeys::profileID, profile.id.toString());
    set(plist, ProfileBundleKeys::sourceVersion, sourceVersion);
    set(plist, ProfileBundleKeys::appearance, appearance(profile));
    return plist;
}

void write(const PlistDictionary& plist, const std::filesystem::path& file)
{
    std::string xml;
    try {
        xml = PropertyList::toXml(plist);
    } catch (const std::out_of_range& error) {
        throw FileError(FileError::Kind::WriteUnknown, file, EINVAL, error.what());
    }
    AtomicFile::write(file, xml);
}

std::string appearance(const Profile& profile)
{
    return profile.color.rawValue() + ":" + profile.letter();
}

std::optional<std::string> stringValue(const PlistDictionary& plist, std::string_view key)
{
    const auto entry = plist.find(key);
    if (entry == plist.end())
        return std::nullopt;
    if (const std::string* text = entry->second.asString())
        return *text;
    return std::nullopt;
}

std::optional<std::string> readStringValue(const std::filesystem::path& file, std::string_view key) noexcept
{
    try {
        return stringValue(read(file), key);
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace korvel::InfoPlistPatcher
