#pragma once

#include <QObject>

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

class QLocalServer;
class QLocalSocket;

namespace korvel {

// One Korvel per user. The first process holds a lock file and listens on a local socket; a later start
// (the desktop opening a claude:// link, or the user starting Korvel again) hands its links or a request to
// show the management window to it over the socket, waits for the acknowledgement and exits with status 0.
//
//     SingleInstance instance;
//     if (!instance.listen())
//         return instance.handOver(links), 0;   // handOver throws when no instance answers
//     QObject::connect(&instance, &SingleInstance::urlsReceived, …);
//
// The lock ($socket.lock, flock) decides who is first, so a socket left behind by a crashed instance never
// blocks a start: whoever gets the lock removes it and listens anew.
//
// Protocol: each message is a 4-byte big-endian length followed by that many bytes of UTF-8 JSON holding one
// object with a "type" (InstanceMessage). A connection carries any number of requests; each gets one reply,
// in order.
//     {"type": "urls", "urls": ["claude://…", …]}   → {"type": "ack"}; urlsReceived was emitted
//     {"type": "show"}                               → {"type": "ack"}; showRequested was emitted
//     {"type": "command", "argv": ["…", …]}          → {"type": "reply", "status": 0, "output": "…"} from the
//                                                      command handler
//     anything else, or a command without handler   → {"type": "error", "message": "…"}
// A malformed or oversized frame ends the connection.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    struct CommandReply
    {
        int status = 0;
        std::string output;
    };
    using CommandHandler = std::function<CommandReply(const std::vector<std::string>& argv)>;

    // $XDG_RUNTIME_DIR/korvel-<uid>.socket; without XDG_RUNTIME_DIR, /tmp/korvel-<uid>/korvel.socket (a folder
    // of this user with mode 0700, created when missing).
    static std::filesystem::path defaultSocketPath();

    explicit SingleInstance(std::filesystem::path socketPath = defaultSocketPath(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // Becomes the first instance and listens: true. False when another instance holds the lock. Throws
    // std::runtime_error when the lock or the socket cannot be created.
    bool listen();
    bool isListening() const { return m_server != nullptr; }
    const std::filesystem::path& socketPath() const { return m_socketPath; }

    // As a later instance: sends `request` to the first one and returns its reply. Waits for the first
    // instance to listen (it may be starting); throws std::runtime_error when nobody answers within `timeout`.
    nlohmann::json send(
        const nlohmann::json& request, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Sends the links, or a "show" request when there are none; throws std::runtime_error unless acknowledged.
    void handOver(const std::vector<std::string>& urls) const;

    void setCommandHandler(CommandHandler handler) { m_commandHandler = std::move(handler); }

signals:
    void urlsReceived(const std::vector<std::string>& urls);
    void showRequested();

private:
    void accept();
    void read(QLocalSocket* socket);
    nlohmann::json answer(const nlohmann::json& request);

    std::filesystem::path m_socketPath;
    int m_lockFd = -1;
    QLocalServer* m_server = nullptr;
    CommandHandler m_commandHandler;
};

} // namespace korvel
