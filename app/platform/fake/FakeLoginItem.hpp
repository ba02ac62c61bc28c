#pragma once

#include "app/platform/LoginItem.hpp"

#include <optional>
#include <string>

namespace korvel {

// A login item in memory that can be told to fail.
class FakeLoginItem : public LoginItem
{
public:
    bool enabled = false;
    std::optional<std::string> failure; // enable() and disable() throw this description
    int enableCalls = 0;
    int disableCalls = 0;

    bool isEnabled() const override { return enabled; }
    void enable() override;
    void disable() override;
};

} // namespace korvel
