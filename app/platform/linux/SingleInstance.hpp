#pragma once

#include <QObject>

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
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
//     {"type": "urls", "urls": ["claude://…", …]}   → {"type": "ack"}; urlsReceived was emitted with the claude:
//                                                      links among them (claudeLinks), unless there were none
//     {"type": "show"}                               → {"type": "ack"}; showRequested was emitted
//     {"type": "command", "argv": ["…", …],         → {"type": "progress", "line": "…"} any number of times, only
//      "progress": true}                               when asked for, while the command runs; then
//                                                      {"type": "reply", "status": 0, "output": "…",
//                                                      "errorOutput": "…"} once the command handler answers
//     anything else, or a command without handler   → {"type": "error", "message": "…"}
// A command may take long (a build); later requests on its connection wait for its reply, and until then a
// {"type": "working"} frame comes every heartbeatInterval, so that a caller can tell a long command from an instance
// that stopped answering. A malformed or oversized frame ends the connection; so does one more connection than
// maximumConnections, and bytes that would take what all connections hold unread beyond maximumHeld.
// The lock must be a regular file.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    struct CommandReply
    {
        int status = 0;
        std::string output; // for standard output
        std::string errorOutput; // for standard error
    };

    // Answers one command, now or later: progress lines while it runs, then one reply. Copies share the
    // answer. Calls after the sender has gone, and after the reply, do nothing.
    class CommandResponder
    {
    public:
        bool wantsProgress() const;
        void progress(const std::string& line) const;
        void reply(const CommandReply& reply) const;

    private:
        friend class SingleInstance;
        struct Channel;
        explicit CommandResponder(std::shared_ptr<Channel> channel)
            : m_channel(std::move(channel))
        { }
        std::shared_ptr<Channel> m_channel;
    };
    // Called on the main thread for every command; answers through `responder`.
    using CommandHandler = std::function<void(const std::vector<std::string>& argv, CommandResponder responder)>;
    using ProgressLine = std::function<void(const std::string& line)>;

    static constexpr auto heartbeatInterval = std::chrono::seconds(1);
    static constexpr int maximumConnections = 32;
    static constexpr size_t maximumHeld = 8u << 20;

    // $XDG_RUNTIME_DIR/korvel-<uid>.socket; without XDG_RUNTIME_DIR, /tmp/korvel-<uid>/korvel.socket (a folder
    // of this user with mode 0700, created when missing; anything else there throws std::runtime_error, for in a
    // folder everyone shares someone else could have put it there first). `sharedTemporary` stands for /tmp.
    static std::filesystem::path defaultSocketPath(const std::filesystem::path& sharedTemporary = "/tmp");

    explicit SingleInstance(std::filesystem::path socketPath = defaultSocketPath(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // Becomes the first instance and listens: true. False when another instance holds the lock. Throws
    // std::runtime_error when the lock or the socket cannot be created.
    bool listen();
    // True when a first instance holds the lock at `socketPath`: it runs, or is starting. Never takes the lock
    // for longer than the test itself.
    static bool isTaken(const std::filesystem::path& socketPath = defaultSocketPath());
    bool isListening() const { return m_server != nullptr; }
    const std::filesystem::path& socketPath() const { return m_socketPath; }

    // As a later instance: sends `request` to the first one and returns its reply. Waits for the first
    // instance to listen (it may be starting); throws std::runtime_error when nobody answers within `timeout`.
    nlohmann::json send(
        const nlohmann::json& request, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Sends the links, or a "show" request when there are none; throws std::runtime_error unless acknowledged.
    void handOver(const std::vector<std::string>& urls) const;
    // Runs a command in the first instance and returns its reply; `progress`, when given, receives the progress
    // lines as they come. Waits up to `connectTimeout` for the first instance to listen, then as long as the
    // command runs, but no longer than `silence` without a frame. Throws std::runtime_error when nobody answers,
    // the instance falls silent or the connection breaks.
    CommandReply sendCommand(const std::vector<std::string>& argv, const ProgressLine& progress = {},
        std::chrono::milliseconds connectTimeout = std::chrono::seconds(10),
        std::chrono::milliseconds silence = std::chrono::seconds(30)) const;

    void setCommandHandler(CommandHandler handler) { m_commandHandler = std::move(handler); }

    // The claude: links among `candidates`, in order; every other one is left out with a warning in the log.
    static std::vector<std::string> claudeLinks(const std::vector<std::string>& candidates);

signals:
    void urlsReceived(const std::vector<std::string>& urls);
    void showRequested();

private:
    void accept();
    void read(QLocalSocket* socket);
    nlohmann::json answer(const nlohmann::json& request);
    void startCommand(QLocalSocket* socket, const nlohmann::json& request);
    void connectTo(QLocalSocket& socket, std::chrono::milliseconds timeout) const;

    std::filesystem::path m_socketPath;
    int m_lockFd = -1;
    int m_connections = 0;
    std::map<const QObject*, std::string> m_buffers; // what each connection sent that is not a whole frame yet
    size_t m_held = 0; // their bytes together
    QLocalServer* m_server = nullptr;
    CommandHandler m_commandHandler;
};

} // namespace korvel
