#pragma once

#include "app/platform/Workspace.hpp"
#include "app/platform/fake/FakeRunningApplication.hpp"

#include <map>

namespace korvel {

// An in-memory desktop. Tests start, quit and activate applications, which fires the events like the system.
class FakeWorkspace : public Workspace
{
public:
    std::vector<std::shared_ptr<FakeRunningApplication>> applications;
    std::shared_ptr<FakeRunningApplication> frontmost;
    std::map<std::filesystem::path, std::string> bundleIdentifiers; // what bundleIdentifier(bundle) answers
    std::optional<std::string> openFailure; // openApplication throws this description
    bool launchOnOpen = false; // openApplication starts the bundle (its identifier from bundleIdentifiers)
    Session desktopSession = Session::X11;

    std::vector<std::filesystem::path> openedApplications;
    struct OpenedURLs
    {
        std::vector<std::string> urls;
        std::filesystem::path application;
    };
    std::vector<OpenedURLs> openedURLs;

    // Adds a running application and fires the launch event.
    std::shared_ptr<FakeRunningApplication> launch(std::optional<std::string> bundleIdentifier);
    // Marks it terminated, removes it and fires the termination event.
    void quit(std::shared_ptr<FakeRunningApplication> application);
    // Brings it to the front and fires the activation event.
    void bringToFront(std::shared_ptr<FakeRunningApplication> application);
    // Fires `event` for `application` (which may be nullptr) without changing anything else.
    void fire(Event event, const std::shared_ptr<RunningApplication>& application);
    size_t observerCount() const;

    std::vector<std::shared_ptr<RunningApplication>> runningApplications() const override;
    std::shared_ptr<RunningApplication> frontmostApplication() const override { return frontmost; }
    void observe(Event event, Handler handler) override;
    QCoro::Task<> openApplication(std::filesystem::path bundle) override;
    void openURLs(const std::vector<std::string>& urls, const std::filesystem::path& application) override;
    std::optional<std::string> bundleIdentifier(const std::filesystem::path& bundle) const override;
    Session session() const override { return desktopSession; }

private:
    std::multimap<Event, Handler> m_handlers;
};

} // namespace korvel
