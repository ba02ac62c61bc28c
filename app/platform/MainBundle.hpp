#pragma once

#include <filesystem>

namespace korvel {

// The bundle Korvel runs from.
class MainBundle
{
public:
    virtual ~MainBundle() = default;

    // The location of the running Korvel.app.
    virtual std::filesystem::path bundlePath() const = 0;
};

} // namespace korvel
