#pragma once

#include <QObject>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace korvel {

// xdg-activation tokens for the programs Korvel starts at the user's request. GNOME and KDE let a program raise its
// window only with a token asked for by the program the user was working in, with the serial of the user's press
// there; Chromium and Electron, started again, hand a token from XDG_ACTIVATION_TOKEN to their running instance.
// Korvel follows the seat's pointer and keyboard on Qt's own Wayland connection, with objects on an event queue of
// its own, so that it knows the serial and the surface of the latest press on its windows. Main thread only.
class WaylandActivation : public QObject
{
public:
    // How long after a press a start still counts as asked for by it.
    static constexpr std::chrono::seconds pressLifetime {10};
    // How long a start waits at most for the compositor's token.
    static constexpr std::chrono::milliseconds answerWait {200};

    // Nothing unless Korvel runs on Qt's Wayland platform and the compositor offers a seat and xdg-activation.
    static std::unique_ptr<WaylandActivation> connect();
    ~WaylandActivation() override;
    WaylandActivation(const WaylandActivation&) = delete;
    WaylandActivation& operator=(const WaylandActivation&) = delete;

    // A token for the application whose windows carry `appId`, asked for with the latest press on one of Korvel's
    // windows: only once per press, within pressLifetime of it, and while that window is still there. Nothing when
    // there is no such press or the compositor does not answer within answerWait.
    std::optional<std::string> tokenFor(const std::string& appId);

    struct Connection; // the objects on Qt's display, defined in the source

private:
    explicit WaylandActivation(std::unique_ptr<Connection> connection);
    void dispatchPending();

    std::unique_ptr<Connection> m_connection;
};

} // namespace korvel
