// KorvelLauncher: the executable of every profile app. It finds the profile's data folder in its bundle's
// Info.plist, makes sure the folder exists and then becomes Claude, in the same process, with the folder
// on Claude's command line. Start-up cost is on every app launch, so it stays small: the standard library,
// POSIX and libplist only.

#include "core/building/ProfileBundleKeys.hpp"
#include "launcher/Bundle.hpp"
#include "launcher/DataFolder.hpp"
#include "launcher/LaunchArguments.hpp"
#include "launcher/Notice.hpp"
#include "launcher/RelayStart.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

using namespace korvel::launcher;

int main(int argc, char* argv[])
{
    const std::string bundle = Bundle::containing(Bundle::runningExecutable());
    if (!Bundle::isApp(bundle))
        Notice::fail("The launcher must run from inside a profile app bundle.");

    const Bundle::Info info = Bundle::info(bundle);
    const auto& dataDir = info.dataDir;
    if (!dataDir)
        Notice::fail("This profile app has no data folder configured.");

    if (const int error = DataFolder::create(*dataDir))
        Notice::fail("Could not create the profile data folder at " + *dataDir + ": " + std::strerror(error));

    const std::string executable = Bundle::claudeExecutable(bundle);
    if (!Bundle::isExecutableFile(executable))
        Notice::fail("Claude's executable is missing from this profile app.");

    // The one thing added to the environment: which profile app this Claude belongs to, for the workspace to find
    // out when Claude runs from an install outside the bundle.
    ::setenv(std::string(korvel::ProfileBundleKeys::bundleEnvironment).c_str(), bundle.c_str(), 1);

    // Claude connects through the profile's relay when the app asks for it; straight to the compositor when the relay
    // cannot start. A WAYLAND_SOCKET handed down would bypass any WAYLAND_DISPLAY.
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    const auto compositor = RelayStart::compositorPath(std::getenv("WAYLAND_DISPLAY"), runtimeDir);
    if (info.taskBarIdentity == korvel::TaskBarIdentity::Relay && compositor && runtimeDir &&
        !std::getenv("WAYLAND_SOCKET") && !info.bundleIdentifier.empty()) {
        const std::string relay = bundle + "/Contents/MacOS/" + std::string(korvel::TaskBarIdentities::relayExecutable);
        if (const auto display = RelayStart::start(relay, runtimeDir, *compositor, info.bundleIdentifier))
            ::setenv("WAYLAND_DISPLAY", display->c_str(), 1);
    }

    // Never freed: the process image is replaced, or the process ends.
    const auto own =
        LaunchArguments::windowSwitches(info.taskBarIdentity, std::getenv("WAYLAND_DISPLAY"), std::getenv("DISPLAY"));
    std::vector<std::string> arguments = LaunchArguments::build(executable, *dataDir, own, argc, argv);
    std::vector<char*> vector = LaunchArguments::vector(arguments);
    ::execv(executable.c_str(), vector.data());
    Notice::fail(std::string("Could not start Claude: ") + std::strerror(errno));
}
