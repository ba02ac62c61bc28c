#include "core/building/CloneError.hpp"

#include "core/model/ClaudeDesktop.hpp"
#include "core/model/ClaudeInstall.hpp"

#include <algorithm>

namespace korvel {

CloneError::CloneError(Kind kind, std::filesystem::path path, const std::string& message)
    : std::runtime_error(message)
    , m_kind(kind)
    , m_path(std::move(path))
{ }

CloneError CloneError::sourceMissing(const std::filesystem::path& sourceApp)
{
    // Where Korvel looked on its own, name every place; a place given to it is named alone.
    const auto places = ClaudeInstall::searchPlaces();
    const bool searched = places.size() > 1 && std::find(places.begin(), places.end(), sourceApp) != places.end();
    return CloneError(Kind::SourceMissing, sourceApp,
        "Claude Desktop wasn’t found " +
            (searched ? "in " + ClaudeInstall::placesLooked() : "at " + sourceApp.string()) + ". Install it from " +
            std::string(ClaudeDesktop::downloadPage) + " first.");
}

CloneError CloneError::launcherMissing(const std::filesystem::path& launcher)
{
    return CloneError(Kind::LauncherMissing, launcher,
        "The profile launcher is missing from Korvel (" + launcher.string() + "). Reinstall the app.");
}

} // namespace korvel
