#include "app/platform/fake/FakeWorkspace.hpp"

#include <algorithm>
#include <stdexcept>

namespace korvel {

std::shared_ptr<FakeRunningApplication> FakeWorkspace::launch(std::optional<std::string> bundleIdentifier)
{
    auto application = std::make_shared<FakeRunningApplication>(std::move(bundleIdentifier));
    applications.push_back(application);
    fire(Event::DidLaunchApplication, application);
    return application;
}

void FakeWorkspace::quit(std::shared_ptr<FakeRunningApplication> application)
{
    application->terminated = true;
    std::erase(applications, application);
    if (frontmost == application)
        frontmost = nullptr;
    fire(Event::DidTerminateApplication, application);
}

void FakeWorkspace::bringToFront(std::shared_ptr<FakeRunningApplication> application)
{
    frontmost = application;
    fire(Event::DidActivateApplication, application);
}

void FakeWorkspace::fire(Event event, const std::shared_ptr<RunningApplication>& application)
{
    // Copied: a handler may register further observers.
    std::vector<Handler> handlers;
    for (auto [it, end] = m_handlers.equal_range(event); it != end; ++it)
        handlers.push_back(it->second);
    for (const Handler& handler : handlers)
        handler(application);
}

size_t FakeWorkspace::observerCount() const
{
    return m_handlers.size();
}

std::vector<std::shared_ptr<RunningApplication>> FakeWorkspace::runningApplications() const
{
    return {applications.begin(), applications.end()};
}

void FakeWorkspace::observe(Event event, Handler handler)
{
    m_handlers.emplace(event, std::move(handler));
}

QCoro::Task<> FakeWorkspace::openApplication(std::filesystem::path bundle)
{
    openedApplications.push_back(bundle);
    if (openFailure)
        throw std::runtime_error(*openFailure);
    if (launchOnOpen) {
        const auto identifier = bundleIdentifiers.find(bundle);
        launch(identifier == bundleIdentifiers.end() ? std::nullopt : std::optional<std::string>(identifier->second));
    }
    co_return;
}

void FakeWorkspace::openURLs(const std::vector<std::string>& urls, const std::filesystem::path& application)
{
    openedURLs.push_back({urls, application});
}

std::optional<std::string> FakeWorkspace::bundleIdentifier(const std::filesystem::path& bundle) const
{
    const auto it = bundleIdentifiers.find(bundle);
    return it == bundleIdentifiers.end() ? std::nullopt : std::optional<std::string>(it->second);
}

} // namespace korvel
