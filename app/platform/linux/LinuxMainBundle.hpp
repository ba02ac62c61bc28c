#pragma once

#include "app/platform/MainBundle.hpp"

namespace korvel {

// Korvel.app, found from the running executable: Korvel.app/Contents/MacOS/Korvel.
class LinuxMainBundle : public MainBundle
{
public:
    // The executable of this process, /proc/self/exe resolved.
    static std::filesystem::path currentExecutable();

    explicit LinuxMainBundle(const std::filesystem::path& executable = currentExecutable());

    // The bundle around the executable; the executable's folder when it does not lie in one (a development
    // build outside the bundle layout).
    std::filesystem::path bundlePath() const override { return m_bundle; }

private:
    std::filesystem::path m_bundle;
};

} // namespace korvel
