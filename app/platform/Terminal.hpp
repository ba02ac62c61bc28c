#pragma once

#include <filesystem>

namespace korvel {

// A terminal window for the user. Main thread only.
class Terminal
{
public:
    virtual ~Terminal() = default;

    // Runs the executable command file in a new terminal window; failures are not reported.
    virtual void openCommandFile(const std::filesystem::path& file) = 0;
};

} // namespace korvel
