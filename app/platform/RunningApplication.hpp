#pragma once

#include <optional>
#include <string>

namespace korvel {

// One application running on this desktop, as the workspace reports it. Main thread only.
class RunningApplication
{
public:
    virtual ~RunningApplication() = default;

    // The identifier of its bundle; nothing for an application without one.
    virtual std::optional<std::string> bundleIdentifier() const = 0;
    // True once the application has quit.
    virtual bool isTerminated() const = 0;
    // Asks the application to quit and returns at once; it may refuse or take its time.
    virtual void terminate() = 0;
    // Shows its hidden windows again.
    virtual void unhide() = 0;
    // Brings it to the front; false when its windows are of a kind this desktop does not let Korvel raise.
    virtual bool activate() = 0;
};

} // namespace korvel
