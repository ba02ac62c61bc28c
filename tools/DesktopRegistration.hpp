#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace korvel {

// The lsregister stand-in: a bundle is "registered" when the desktop knows it through a desktop entry,
// $XDG_DATA_HOME/applications/korvel-<bundle id>.desktop, with its name, executable and icon, and an
// X-Korvel-Bundle key naming the bundle so that it can be found again without reading the bundle.
struct DesktopRegistration
{
    // Writes the bundle's entry and icon (the largest image of its CFBundleIconFile), replacing earlier
    // ones. Throws FileError or std::runtime_error when the bundle cannot be read or the entry written.
    static void registerBundle(const std::filesystem::path& bundle);

    // Removes every entry (and its icons) that names `bundle`; none is fine. Throws FileError when a
    // removal fails.
    static void unregisterBundle(const std::filesystem::path& bundle);

    // "-f PATH" registers, "-u PATH" unregisters.
    static int main(const std::vector<std::string>& arguments);
};

} // namespace korvel
