#pragma once

#include "app/platform/MainBundle.hpp"

namespace korvel {

// Korvel.app wherever the test says it is.
class FakeMainBundle : public MainBundle
{
public:
    std::filesystem::path path = "/Applications/Korvel.app";

    std::filesystem::path bundlePath() const override { return path; }
};

} // namespace korvel
