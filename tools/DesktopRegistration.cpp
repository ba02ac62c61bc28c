#include "tools/DesktopRegistration.hpp"

#include "core/building/IcnsFile.hpp"
#include "core/building/InfoPlistPatcher.hpp"
#include "core/model/AppPaths.hpp"
#include "core/support/AtomicFile.hpp"
#include "core/support/FileError.hpp"

#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace korvel {
namespace {

constexpr std::string_view entryPrefix = "korvel-";
constexpr std::string_view bundleKey = "X-Korvel-Bundle=";

// $XDG_DATA_HOME (or ~/.local/share): the parent of Korvel's own support folder.
std::filesystem::path dataHome()
{
    return AppPaths::live().supportDir.parent_path();
}

std::filesystem::path applicationsFolder()
{
    return dataHome() / "applications";
}

std::filesystem::path iconThemeFolder()
{
    return dataHome() / "icons" / "hicolor";
}

// A bundle identifier as part of a file name: reverse-DNS characters kept, anything else (a slash above
// all) replaced.
std::string fileStem(const std::string& identifier)
{
    std::string stem(entryPrefix);
    for (const char c : identifier) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
            c == '-' || c == '_';
        stem += safe ? c : '_';
    }
    return stem;
}

// A string value of a desktop entry: backslash escapes, and \s for a leading blank that would be lost.
std::string escapeString(std::string_view value)
{
    std::string escaped;
    for (size_t i = 0; i < value.size(); ++i) {
        switch (value[i]) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\r':
            escaped += "\\r";
            break;
        case ' ':
            escaped += i == 0 ? "\\s" : " ";
            break;
        default:
            escaped += value[i];
        }
    }
    return escaped;
}

std::string unescapeString(std::string_view value)
{
    std::string text;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            text += value[i];
            continue;
        }
        const char next = value[++i];
        text += next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
    }
    return text;
}

// One Exec argument, always in double quotes, with the four characters that stay special inside them
// escaped and every % doubled so that it is not read as a field code.
std::string quoteExecArgument(std::string_view argument)
{
    std::string quoted = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        quoted += c;
        if (c == '%')
            quoted += '%';
    }
    return quoted + "\"";
}

std::string normalized(const std::filesystem::path& bundle)
{
    std::string text = std::filesystem::absolute(bundle).lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

struct BundleInfo
{
    std::string identifier;
    std::string name;
    std::filesystem::path executable;
    std::filesystem::path iconFile; // empty when the bundle names none
};

BundleInfo readBundle(const std::filesystem::path& bundle)
{
    const PlistDictionary plist = InfoPlistPatcher::read(bundle / "Contents" / "Info.plist");
    const auto value = [&](std::string_view key) { return InfoPlistPatcher::stringValue(plist, key); };
    BundleInfo info;
    const std::optional<std::string> identifier = value("CFBundleIdentifier");
    const std::optional<std::string> executable = value("CFBundleExecutable");
    if (!identifier || identifier->empty() || !executable || executable->empty())
        throw std::runtime_error(bundle.string() + ": Info.plist lacks CFBundleIdentifier or CFBundleExecutable");
    info.identifier = *identifier;
    info.executable = bundle / "Contents" / "MacOS" / *executable;
    info.name = value("CFBundleDisplayName").value_or(value("CFBundleName").value_or(bundle.stem().string()));
    if (const std::optional<std::string> icon = value("CFBundleIconFile"); icon && !icon->empty()) {
        info.iconFile = bundle / "Contents" / "Resources" / *icon;
        if (info.iconFile.extension().empty())
            info.iconFile += ".icns";
    }
    return info;
}

void removeIcons(const std::string& stem)
{
    std::error_code error;
    for (const auto& size : std::filesystem::directory_iterator(iconThemeFolder(), error)) {
        const std::filesystem::path icon = size.path() / "apps" / (stem + ".png");
        if (std::filesystem::is_regular_file(std::filesystem::symlink_status(icon)) &&
            !std::filesystem::remove(icon, error))
            FileError::throwWrite(icon, error.value());
    }
}

// The largest image of the bundle's icon as a PNG in the icon theme; nothing when the bundle has none.
std::optional<std::filesystem::path> installIcon(const BundleInfo& info, const std::string& stem)
{
    removeIcons(stem);
    if (info.iconFile.empty())
        return std::nullopt;
    const std::optional<Bitmap> image = IcnsFile::largestImageInFile(info.iconFile);
    const std::optional<std::string> png = image ? image->encodePng() : std::nullopt;
    if (!png)
        return std::nullopt;
    const std::string size = std::to_string(image->width()) + "x" + std::to_string(image->height());
    const std::filesystem::path folder = iconThemeFolder() / size / "apps";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        FileError::throwWrite(folder, error.value());
    const std::filesystem::path icon = folder / (stem + ".png");
    AtomicFile::write(icon, *png);
    return icon;
}

std::string entryText(
    const BundleInfo& info, const std::string& bundle, const std::optional<std::filesystem::path>& icon)
{
    std::string text = "[Desktop Entry]\nType=Application\n";
    text += "Name=" + escapeString(info.name) + "\n";
    text += "Exec=" + escapeString(quoteExecArgument(info.executable.string())) + " %U\n";
    if (icon)
        text += "Icon=" + escapeString(icon->string()) + "\n";
    text += "Terminal=false\n";
    text += std::string(bundleKey) + escapeString(bundle) + "\n";
    return text;
}

// The bundle an entry of ours names, from its X-Korvel-Bundle line.
std::optional<std::string> bundleOfEntry(const std::filesystem::path& entry)
{
    std::istringstream lines(AtomicFile::read(entry));
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(bundleKey))
            return unescapeString(std::string_view(line).substr(bundleKey.size()));
    }
    return std::nullopt;
}

// Entries of ours that name `bundle`, as file stems ("korvel-<id>").
std::vector<std::string> entriesNaming(const std::string& bundle)
{
    std::vector<std::string> stems;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(applicationsFolder(), error)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(entryPrefix) || entry.path().extension() != ".desktop")
            continue;
        try {
            if (bundleOfEntry(entry.path()) == bundle)
                stems.push_back(entry.path().stem().string());
        } catch (const FileError&) {
            // An entry we cannot read names no bundle we know of.
        }
    }
    return stems;
}

void removeEntry(const std::string& stem)
{
    const std::filesystem::path entry = applicationsFolder() / (stem + ".desktop");
    std::error_code error;
    std::filesystem::remove(entry, error);
    if (error)
        FileError::throwWrite(entry, error.value());
    removeIcons(stem);
}

} // namespace

void DesktopRegistration::registerBundle(const std::filesystem::path& bundle)
{
    const std::string path = normalized(bundle);
    const BundleInfo info = readBundle(path);
    const std::string stem = fileStem(info.identifier);
    // The bundle may have been registered under an identifier it no longer has.
    for (const std::string& old : entriesNaming(path)) {
        if (old != stem)
            removeEntry(old);
    }
    const std::optional<std::filesystem::path> icon = installIcon(info, stem);
    std::error_code error;
    std::filesystem::create_directories(applicationsFolder(), error);
    if (error)
        FileError::throwWrite(applicationsFolder(), error.value());
    AtomicFile::write(applicationsFolder() / (stem + ".desktop"), entryText(info, path, icon));
}

void DesktopRegistration::unregisterBundle(const std::filesystem::path& bundle)
{
    for (const std::string& stem : entriesNaming(normalized(bundle)))
        removeEntry(stem);
}

int DesktopRegistration::main(const std::vector<std::string>& arguments)
{
    if (arguments.size() != 2 || (arguments[0] != "-f" && arguments[0] != "-u")) {
        std::cerr << "usage: lsregister -f PATH | -u PATH\n";
        return 2;
    }
    if (arguments[0] == "-f")
        registerBundle(arguments[1]);
    else
        unregisterBundle(arguments[1]);
    return 0;
}

} // namespace korvel
