#include "core/system/InstalledApplications.hpp"

#include "core/support/DesktopEntry.hpp"
#include "core/support/FileChecks.hpp"
#include "core/support/SearchPath.hpp"
#include "core/support/XdgFolders.hpp"

#include <charconv>
#include <vector>

namespace korvel::InstalledApplications {
namespace {

namespace fs = std::filesystem;

constexpr const char* pixmaps = "/usr/share/pixmaps";

// The first word of an Exec line, unquoted.
std::string program(std::string_view exec)
{
    std::string word;
    bool quoted = false;
    for (size_t index = 0; index < exec.size(); ++index) {
        const char c = exec[index];
        if (c == '"') {
            quoted = !quoted;
        } else if (c == '\\' && quoted && index + 1 < exec.size()) {
            word += exec[++index];
        } else if (c == ' ' && !quoted) {
            if (!word.empty())
                break;
        } else {
            word += c;
        }
    }
    return word;
}

bool runs(const fs::path& entryFile, const fs::path& executable)
{
    try {
        const auto exec = DesktopEntry::read(entryFile).value("Exec");
        const auto found = exec ? SearchPath::find(program(*exec)) : std::nullopt;
        return found && FileChecks::resolved(*found) == executable;
    } catch (const std::exception&) {
        return false;
    }
}

// Pixel size of a hicolor folder name such as "256x256" or "256x256@2"; 0 for anything else.
int folderSize(const std::string& name)
{
    int size = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), size);
    return error == std::errc() && end != name.data() + name.size() && *end == 'x' ? size : 0;
}

// A regular file (links followed) small enough to be an icon.
bool isIconFile(const fs::path& file)
{
    std::error_code error;
    const auto size = fs::file_size(file, error);
    return !error && size <= maxIconFileSize && FileChecks::isRegularFile(file);
}

// The folders icons are installed in: the icon themes and pixmaps of every data folder.
std::vector<fs::path> iconFolders()
{
    std::vector<fs::path> folders;
    for (const fs::path& data : XdgFolders::dataDirs()) {
        folders.push_back(data / "icons");
        folders.push_back(data / "pixmaps");
    }
    folders.push_back(pixmaps);
    return folders;
}

// An absolute Icon= value: only an image in the desktop's icon folders, never any file a desktop entry names.
std::optional<fs::path> iconAt(const fs::path& file)
{
    const fs::path normal = file.lexically_normal();
    if (normal.extension() != ".png" && normal.extension() != ".svg")
        return std::nullopt;
    for (const fs::path& folder : iconFolders()) {
        const fs::path relative = normal.lexically_relative(folder.lexically_normal());
        if (!relative.empty() && *relative.begin() != ".." && relative != "." && isIconFile(normal))
            return normal;
    }
    return std::nullopt;
}

} // namespace

std::optional<fs::path> desktopEntryFor(const fs::path& executable, std::string_view preferred)
{
    const auto target = FileChecks::resolved(executable);
    if (!target)
        return std::nullopt;
    const auto folders = XdgFolders::dataDirs();
    if (!preferred.empty())
        for (const fs::path& folder : folders)
            if (const fs::path file = folder / "applications" / preferred;
                FileChecks::isRegularFile(file) && runs(file, *target))
                return file;
    for (const fs::path& folder : folders) {
        std::error_code error;
        for (const auto& item : fs::directory_iterator(folder / "applications", error))
            if (item.path().extension() == ".desktop" && FileChecks::isRegularFile(item.path()) &&
                runs(item.path(), *target))
                return item.path();
    }
    return std::nullopt;
}

std::optional<fs::path> largestIcon(std::string_view name)
{
    if (name.empty())
        return std::nullopt;
    if (name.front() == '/')
        return iconAt(fs::path(name));
    const std::string png = std::string(name) + ".png";
    const std::string svg = std::string(name) + ".svg";
    std::optional<fs::path> best;
    int bestSize = 0;
    for (const fs::path& folder : XdgFolders::dataDirs()) {
        const fs::path theme = folder / "icons" / "hicolor";
        if (const fs::path file = theme / "scalable" / "apps" / svg; isIconFile(file))
            return file;
        std::error_code error;
        for (const auto& sizeFolder : fs::directory_iterator(theme, error)) {
            const int size = folderSize(sizeFolder.path().filename().string());
            if (const fs::path file = sizeFolder.path() / "apps" / png; size > bestSize && isIconFile(file)) {
                best = file;
                bestSize = size;
            }
        }
    }
    if (best)
        return best;
    for (const std::string& file : {png, svg})
        if (isIconFile(fs::path(pixmaps) / file))
            return fs::path(pixmaps) / file;
    return std::nullopt;
}

} // namespace korvel::InstalledApplications
