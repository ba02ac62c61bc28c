#pragma once

#include <QObject>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

class QSocketNotifier;

namespace korvel {

// Hears from the profile apps' Wayland relays whether one of their windows is the active one. A relay connects to
// the socket, writes "active <app id>\n" or "inactive <app id>\n" and closes; a connection may carry several lines.
// Lines longer than maximumLine, or that say anything else, are dropped, and so is the connection that sent them;
// connections beyond maximumConnections are refused. Nothing here waits on a sender. Main thread only.
//
// The socket is Korvel's: 0600, bound under a temporary name and renamed into place, so that it replaces a socket
// a Korvel that died left behind, or a link someone put there, rather than following it. A socket someone still
// listens on is left alone (that Korvel hears the relays). Removed again when this object goes, unless replaced.
class RelayReports : public QObject
{
    Q_OBJECT

public:
    static constexpr std::size_t maximumLine = 512;
    static constexpr std::size_t maximumConnections = 32;

    using Handler = std::function<void(const std::string& appId, bool active)>;

    // Listens at `socket` and calls `handler` for every line that is a report.
    RelayReports(std::filesystem::path socket, Handler handler, QObject* parent = nullptr);
    ~RelayReports() override;

    // $XDG_RUNTIME_DIR/korvel-relay-reports, the socket the launcher tells every relay; nothing without that folder.
    static std::optional<std::filesystem::path> defaultSocket();

    // False when another listener had the socket or it could not be made.
    bool isListening() const { return m_listener >= 0; }

private:
    struct Sender;
    void accept();
    void read(int fd);
    void drop(int fd);

    std::filesystem::path m_socket;
    Handler m_handler;
    int m_listener = -1;
    dev_t m_device = 0; // the socket file's, to remove it only while it is still ours
    ino_t m_inode = 0;
    QSocketNotifier* m_notifier = nullptr;
    std::map<int, std::unique_ptr<Sender>> m_senders;
};

} // namespace korvel
