#include "core/model/ClaudeInstall.hpp"

#include "core/model/ClaudeDesktop.hpp"
#include "core/support/SearchPath.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace korvel {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view macBundle = "/Applications/Claude.app";

bool isExecutableFile(const fs::path& path)
{
    struct stat info
    { };
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool isFile(const fs::path& path)
{
    std::error_code error;
    return fs::is_regular_file(path, error);
}

std::optional<fs::path> resolved(const fs::path& place)
{
    std::error_code error;
    fs::path path = fs::canonical(place, error);
    if (error)
        return std::nullopt;
    return path;
}

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
    const auto location = resolved(place);
    if (!location)
        return std::nullopt;
    if (isFile(*location / "Contents" / "Info.plist"))
        return ClaudeInstall {
            Kind::Bundle, *location, *location / "Contents" / "MacOS" / std::string(ClaudeDesktop::executableName)};
    // The program is kept resolved as well: it is what /proc shows of a running Claude.
    if (isExecutableFile(*location / linuxProgram))
        return ClaudeInstall {Kind::Linux, *location, resolved(*location / linuxProgram).value()};
    // The program itself: the package's name, or an Electron app's beside its resources (anything else is some
    // other program).
    if (isExecutableFile(*location) &&
        (location->filename() == linuxProgram || isFile(location->parent_path() / "resources" / "app.asar")))
        return ClaudeInstall {Kind::Linux, location->parent_path(), *location};
    return std::nullopt;
}

std::vector<fs::path> ClaudeInstall::searchPlaces()
{
    if (const auto place = environmentPlace())
        return {fs::path(*place)};
    std::vector<fs::path> places {fs::path(linuxPackageFolder)};
    if (const auto program = SearchPath::find(linuxProgram))
        places.push_back(resolved(*program).value_or(*program));
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
