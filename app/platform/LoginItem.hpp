#pragma once

namespace korvel {

// Starting Korvel when the user logs in. Main thread only.
class LoginItem
{
public:
    virtual ~LoginItem() = default;

    // True while Korvel is registered to start at login.
    virtual bool isEnabled() const = 0;
    // Registers Korvel to start at login; throws std::exception with the reason on failure.
    virtual void enable() = 0;
    // Removes that registration; throws std::exception with the reason on failure.
    virtual void disable() = 0;
};

} // namespace korvel
