#pragma once

#include "app/platform/Terminal.hpp"

#include <vector>

namespace korvel {

// Records the command files it was asked to run.
class FakeTerminal : public Terminal
{
public:
    std::vector<std::filesystem::path> opened;

    void openCommandFile(const std::filesystem::path& file) override { opened.push_back(file); }
};

} // namespace korvel
