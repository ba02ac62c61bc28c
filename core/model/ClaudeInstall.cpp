#include "core/model/ClaudeInstall.hpp"

#include "core/model/ClaudeDesktop.hpp"
#include "core/support/FileChecks.hpp"
#include "core/support/SearchPath.hpp"

#include <cstdlib>
#include <string_view>

namespace korvel {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view macBundle = "/Applications/Claude.app";

std::optional<std::string> environmentPlace()
{
    const char* value = std::getenv("KORVEL_CLAUDE_APP");
    if (!value || !*value)
        return std::nullopt;
    return std::string(value);
}

} // namespace

std::optional<ClaudeInstall> ClaudeInstall::at(const fs::path& place)
{
    const auto location = FileChecks::resolved(place);
    if (!location)
        return std::nullopt;
    if (FileChecks::isRegularFile(*location / "Contents" / "Info.plist"))
        return ClaudeInstall {
            Kind::Bundle, *location, *location / "Contents" / "MacOS" / std::string(ClaudeDesktop::executableName)};
    // The program is kept resolved as well: it is what /proc shows of a running Claude.
    if (FileChecks::isExecutableFile(*location / linuxProgram))
        return ClaudeInstall {Kind::Linux, *location, FileChecks::resolved(*location / linuxProgram).value()};
    // The program itself: the package's name, or an Electron app's beside its resources (anything else is some
    // other program).
    if (FileChecks::isExecutableFile(*location) &&
        (location->filename() == linuxProgram ||
            FileChecks::isRegularFile(location->parent_path() / "resources" / "app.asar")))
        return ClaudeInstall {Kind::Linux, location->parent_path(), *location};
    return std::nullopt;
}

std::vector<fs::path> ClaudeInstall::searchPlaces()
{
    if (const auto place = environmentPlace())
        return {fs::path(*place)};
    std::vector<fs::path> places {fs::path(linuxPackageFolder)};
    if (const auto program = SearchPath::find(linuxProgram))
        places.push_back(FileChecks::resolved(*program).value_or(*program));
    places.emplace_back(macBundle);
    return places;
}

fs::path ClaudeInstall::find()
{
    const std::vector<fs::path> places = searchPlaces();
    for (const fs::path& place : places)
        if (const auto install = at(place))
            return install->location;
    return places.front();
}

std::string ClaudeInstall::placesLooked()
{
    if (const auto place = environmentPlace())
        return *place;
    return std::string(linuxPackageFolder) + ", " + linuxProgram + " on your PATH or " + std::string(macBundle);
}

} // namespace korvel
