#include "app/platform/linux/SingleInstance.hpp"

#include "app/platform/linux/InstanceMessage.hpp"
#include "core/model/ClaudeDesktop.hpp"
#include "core/support/UnicodeText.hpp"
#include "core/support/XdgFolders.hpp"

#include <QDeadlineTimer>
#include <QDebug>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QVariant>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvel {
namespace {

const char* commandRunsProperty = "korvelCommandRuns"; // later requests wait for the command's reply

std::runtime_error systemError(const std::string& what, const std::filesystem::path& path, int error)
{
    return std::runtime_error(what + " “" + path.string() + "”: " + std::strerror(error) + ".");
}

// A private folder of ours: created 0700 when missing; refused when it is someone else's or a link.
void ensurePrivateFolder(const std::filesystem::path& folder)
{
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw systemError("Korvel can’t create the folder", folder, errno);
    struct stat info
    { };
    if (::lstat(folder.c_str(), &info) != 0)
        throw systemError("Korvel can’t use the folder", folder, errno);
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0)
        throw std::runtime_error("Korvel can’t use the folder “" + folder.string() + "”: it isn’t private to you.");
}

// The lock file, opened without waiting and refused unless it is a regular file: a named pipe planted there would
// block whoever opens it, for ever. Nothing (-1) when it does not exist and `create` is false.
int openLock(const std::filesystem::path& lockPath, bool create)
{
    const int fd =
        ::open(lockPath.c_str(), (create ? O_RDWR | O_CREAT : O_RDONLY) | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == ENOENT && !create)
        return -1;
    if (fd < 0 && errno != ELOOP)
        throw systemError("Korvel can’t open its lock file", lockPath, errno);
    struct stat info
    { };
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error(
            "Korvel’s lock file “" + lockPath.string() + "” isn’t a regular file. Remove it, then try again.");
    }
    return fd;
}

nlohmann::json error(const std::string& message)
{
    return {{"type", "error"}, {"message", message}};
}

std::vector<std::string> strings(const nlohmann::json& value)
{
    std::vector<std::string> list;
    if (!value.is_array())
        return list;
    for (const auto& item : value)
        if (item.is_string())
            list.push_back(item.get<std::string>());
    return list;
}

} // namespace

std::filesystem::path SingleInstance::defaultSocketPath(const std::filesystem::path& sharedTemporary)
{
    const std::string uid = std::to_string(::geteuid());
    if (const auto runtime = XdgFolders::runtimeDir())
        return *runtime / ("korvel-" + uid + ".socket");
    const std::filesystem::path folder = sharedTemporary / ("korvel-" + uid);
    ensurePrivateFolder(folder);
    return folder / "korvel.socket";
}

struct SingleInstance::CommandResponder::Channel
{
    QPointer<SingleInstance> instance;
    QPointer<QLocalSocket> socket;
    QPointer<QTimer> heartbeat;
    bool wantsProgress = false;
    bool replied = false;

    void write(const nlohmann::json& message) const
    {
        if (!socket)
            return;
        const std::string frame = InstanceMessage::encode(message);
        socket->write(frame.data(), static_cast<qint64>(frame.size()));
    }
};

bool SingleInstance::CommandResponder::wantsProgress() const
{
    return m_channel->wantsProgress;
}

void SingleInstance::CommandResponder::progress(const std::string& line) const
{
    if (m_channel->wantsProgress && !m_channel->replied)
        m_channel->write({{"type", "progress"}, {"line", line}});
}

void SingleInstance::CommandResponder::reply(const CommandReply& reply) const
{
    Channel& channel = *m_channel;
    if (channel.replied)
        return;
    channel.replied = true;
    delete channel.heartbeat.data();
    channel.write(
        {{"type", "reply"}, {"status", reply.status}, {"output", reply.output}, {"errorOutput", reply.errorOutput}});
    if (!channel.socket || !channel.instance)
        return;
    channel.socket->setProperty(commandRunsProperty, false);
    // Requests that came meanwhile; from the event loop, as this may run inside read().
    QMetaObject::invokeMethod(
        channel.instance.data(),
        [instance = channel.instance, socket = channel.socket] {
            if (instance && socket)
                instance->read(socket);
        },
        Qt::QueuedConnection);
}

SingleInstance::SingleInstance(std::filesystem::path socketPath, QObject* parent)
    : QObject(parent)
    , m_socketPath(std::move(socketPath))
{ }

SingleInstance::~SingleInstance()
{
    if (m_server) {
        m_server->close(); // removes the socket file
        delete m_server;
    }
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

bool SingleInstance::listen()
{
    if (m_server)
        return true;
    const std::filesystem::path lockPath = m_socketPath.string() + ".lock";
    const int fd = openLock(lockPath, true);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int reason = errno;
        ::close(fd);
        if (reason == EWOULDBLOCK)
            return false;
        throw systemError("Korvel can’t lock", lockPath, reason);
    }
    m_lockFd = fd;
    // Holding the lock, any socket file left is from an instance that is gone.
    QLocalServer::removeServer(QString::fromStdString(m_socketPath.string()));
    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(QString::fromStdString(m_socketPath.string()))) {
        const std::string reason = server->errorString().toStdString();
        delete server;
        throw std::runtime_error("Korvel can’t listen on “" + m_socketPath.string() + "”: " + reason + ".");
    }
    m_server = server;
    QObject::connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
    return true;
}

bool SingleInstance::isTaken(const std::filesystem::path& socketPath)
{
    const int fd = openLock(socketPath.string() + ".lock", false);
    if (fd < 0)
        return false; // never locked by anyone
    const bool taken = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd); // drops the shared lock at once
    return taken;
}

void SingleInstance::accept()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        if (m_connections >= maximumConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_connections;
        QObject::connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QObject::destroyed, this, [this, socket] {
            --m_connections;
            m_held -= m_buffers[socket].size();
            m_buffers.erase(socket);
        });
        read(socket); // bytes may have arrived with the connection
    }
}

void SingleInstance::read(QLocalSocket* socket)
{
    const QByteArray incoming = socket->readAll();
    // What every connection holds together stays bounded: the one that would go beyond ends.
    if (m_held + static_cast<size_t>(incoming.size()) > maximumHeld) {
        socket->abort();
        return;
    }
    std::string& buffer = m_buffers[socket];
    const size_t before = buffer.size();
    buffer.append(incoming.constData(), static_cast<size_t>(incoming.size()));
    try {
        while (!socket->property(commandRunsProperty).toBool()) {
            const auto request = InstanceMessage::take(buffer);
            if (!request)
                break;
            if (request->value("type", "") == "command" && m_commandHandler) {
                startCommand(socket, *request);
                continue;
            }
            const std::string reply = InstanceMessage::encode(answer(*request));
            socket->write(reply.data(), static_cast<qint64>(reply.size()));
        }
    } catch (const std::exception&) {
        socket->abort();
    }
    m_held = m_held - before + buffer.size();
}

nlohmann::json SingleInstance::answer(const nlohmann::json& request)
{
    const std::string type = request["type"].get<std::string>();
    if (type == "urls") {
        if (const auto links = claudeLinks(strings(request.value("urls", nlohmann::json::array()))); !links.empty())
            emit urlsReceived(links);
        return {{"type", "ack"}};
    }
    if (type == "show") {
        emit showRequested();
        return {{"type", "ack"}};
    }
    if (type == "command")
        return error("This Korvel doesn’t take commands.");
    return error("Korvel doesn’t know the request “" + type + "”.");
}

std::vector<std::string> SingleInstance::claudeLinks(const std::vector<std::string>& candidates)
{
    std::vector<std::string> links;
    for (const std::string& candidate : candidates) {
        if (ClaudeDesktop::isLink(candidate))
            links.push_back(candidate);
        else
            qWarning("Korvel: ignored “%s”: only claude:// links are handed on.",
                UnicodeText::escapingControls(candidate).c_str());
    }
    return links;
}

void SingleInstance::startCommand(QLocalSocket* socket, const nlohmann::json& request)
{
    socket->setProperty(commandRunsProperty, true);
    const auto channel = std::make_shared<CommandResponder::Channel>();
    channel->instance = this;
    channel->socket = socket;
    const auto progress = request.find("progress");
    channel->wantsProgress = progress != request.end() && progress->is_boolean() && progress->get<bool>();
    // Until the reply, a heartbeat tells the caller that the command still runs, however long its work.
    auto* heartbeat = new QTimer(socket);
    channel->heartbeat = heartbeat;
    QObject::connect(heartbeat, &QTimer::timeout, socket, [channel] { channel->write({{"type", "working"}}); });
    heartbeat->start(heartbeatInterval);
    m_commandHandler(strings(request.value("argv", nlohmann::json::array())), CommandResponder(channel));
}

void SingleInstance::connectTo(QLocalSocket& socket, std::chrono::milliseconds timeout) const
{
    const QDeadlineTimer deadline(timeout.count());
    for (;;) {
        socket.connectToServer(QString::fromStdString(m_socketPath.string()));
        if (socket.waitForConnected(static_cast<int>(deadline.remainingTime())))
            return;
        if (deadline.hasExpired())
            throw std::runtime_error("No running Korvel answered on “" + m_socketPath.string() + "”.");
        QThread::msleep(50); // the first instance holds the lock but may not listen yet
    }
}

nlohmann::json SingleInstance::send(const nlohmann::json& request, std::chrono::milliseconds timeout) const
{
    const QDeadlineTimer deadline(timeout.count());
    const std::string frame = InstanceMessage::encode(request);
    QLocalSocket socket;
    connectTo(socket, timeout);
    socket.write(frame.data(), static_cast<qint64>(frame.size()));
    std::string buffer;
    while (!deadline.hasExpired()) {
        if (auto reply = InstanceMessage::take(buffer))
            return *reply;
        if (!socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            break;
        const QByteArray incoming = socket.readAll();
        buffer.append(incoming.constData(), static_cast<size_t>(incoming.size()));
    }
    if (auto reply = InstanceMessage::take(buffer))
        return *reply;
    throw std::runtime_error("The running Korvel didn’t answer.");
}

void SingleInstance::handOver(const std::vector<std::string>& urls) const
{
    const nlohmann::json request =
        urls.empty() ? nlohmann::json {{"type", "show"}} : nlohmann::json {{"type", "urls"}, {"urls", urls}};
    const nlohmann::json reply = send(request);
    if (reply.value("type", "") != "ack")
        throw std::runtime_error(reply.value("message", std::string("The running Korvel refused the request.")));
}

SingleInstance::CommandReply SingleInstance::sendCommand(const std::vector<std::string>& argv,
    const ProgressLine& progress, std::chrono::milliseconds connectTimeout, std::chrono::milliseconds silence) const
{
    const std::string frame =
        InstanceMessage::encode({{"type", "command"}, {"argv", argv}, {"progress", static_cast<bool>(progress)}});
    QLocalSocket socket;
    connectTo(socket, connectTimeout);
    socket.write(frame.data(), static_cast<qint64>(frame.size()));
    std::string buffer;
    for (;;) {
        while (auto message = InstanceMessage::take(buffer)) {
            const std::string type = message->value("type", "");
            if (type == "progress" && progress) {
                progress(message->value("line", std::string()));
            } else if (type == "reply") {
                return CommandReply {message->value("status", 1), message->value("output", std::string()),
                    message->value("errorOutput", std::string())};
            } else if (type == "error") {
                throw std::runtime_error(
                    message->value("message", std::string("The running Korvel refused the command.")));
            }
        }
        // A command runs as long as its work does (a build), with a heartbeat meanwhile: only silence ends the wait.
        if (!socket.waitForReadyRead(static_cast<int>(silence.count()))) {
            if (socket.state() != QLocalSocket::ConnectedState)
                throw std::runtime_error("The running Korvel ended before it answered.");
            throw std::runtime_error("The running Korvel stopped answering.");
        }
        const QByteArray incoming = socket.readAll();
        buffer.append(incoming.constData(), static_cast<size_t>(incoming.size()));
    }
}

} // namespace korvel
