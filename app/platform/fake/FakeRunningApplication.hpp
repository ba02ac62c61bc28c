#pragma once

#include "app/platform/RunningApplication.hpp"

namespace korvel {

// A scripted running application. It quits on request unless told otherwise, and records what was asked of it.
class FakeRunningApplication : public RunningApplication
{
public:
    explicit FakeRunningApplication(std::optional<std::string> bundleIdentifier)
        : identifier(std::move(bundleIdentifier))
    { }

    std::optional<std::string> identifier;
    bool refusesToQuit = false; // terminate() is ignored
    bool activates = true; // what activate() answers
    int checksBeforeQuitting = 0; // after terminate(), isTerminated() answers false this many times first
    mutable bool terminated = false; // set by a completed quit, or by the test

    int terminateRequests = 0;
    int unhideRequests = 0;
    int activateRequests = 0;

    std::optional<std::string> bundleIdentifier() const override { return identifier; }
    bool isTerminated() const override;
    void terminate() override;
    void unhide() override { ++unhideRequests; }
    bool activate() override
    {
        ++activateRequests;
        return activates;
    }

private:
    bool m_quitting = false;
    mutable int m_checksLeft = 0;
};

} // namespace korvel
