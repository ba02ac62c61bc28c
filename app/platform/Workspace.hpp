#pragma once

#include "app/platform/RunningApplication.hpp"

#include <qcoro/qcorotask.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korvel {

// The desktop's applications: which run, which is in front, opening bundles and links, and the events of
// applications starting, quitting and coming to the front. Main thread only.
class Workspace
{
public:
    // FrontmostUnknown: a window the workspace cannot attribute now has the focus (a native window in a Wayland
    // session), so which application is in front is not known; it names no application.
    enum class Event { DidLaunchApplication, DidTerminateApplication, DidActivateApplication, FrontmostUnknown };
    // How applications show their windows on this desktop.
    enum class Session {
        X11,
        Wayland, // without XWayland: no window of another program can be seen, raised or renamed
        WaylandWithXWayland, // what runs through XWayland behaves as on X11; native windows do not
        Headless, // no display at all
    };
    static constexpr bool isWayland(Session session)
    {
        return session == Session::Wayland || session == Session::WaylandWithXWayland;
    }
    // Receives the application concerned, or nullptr when the event names none.
    using Handler = std::function<void(const std::shared_ptr<RunningApplication>& application)>;

    virtual ~Workspace() = default;

    // Every running application, in no particular order.
    virtual std::vector<std::shared_ptr<RunningApplication>> runningApplications() const = 0;
    // The application in front, or nullptr when it is unknown.
    virtual std::shared_ptr<RunningApplication> frontmostApplication() const = 0;
    // Calls `handler` on the main thread for every `event` from now on; there is no way to stop observing.
    virtual void observe(Event event, Handler handler) = 0;
    // Opens the application bundle and brings it to the front; throws std::exception when it could not be opened.
    virtual QCoro::Task<> openApplication(std::filesystem::path bundle) = 0;
    // Hands `urls`, in this order, to the application bundle and brings it to the front; failures are not reported.
    virtual void openURLs(const std::vector<std::string>& urls, const std::filesystem::path& application) = 0;
    // The identifier of the bundle at `bundle`, or nothing when it has none or cannot be read.
    virtual std::optional<std::string> bundleIdentifier(const std::filesystem::path& bundle) const = 0;
    // The session this desktop runs.
    virtual Session session() const = 0;
};

} // namespace korvel
