#include "StandInInstance.hpp"

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRandomGenerator>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const char* lockName = "SingletonLock";
const char* cookieName = "SingletonCookie";
const char* socketName = "SingletonSocket";

std::string hostName()
{
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

void link(const std::string& target, const fs::path& at)
{
    if (::symlink(target.c_str(), at.c_str()) != 0)
        throw std::runtime_error("can’t create " + at.string() + ": " + std::strerror(errno));
}

// The process that holds the lock, when it is on this host and still alive.
bool ownerIsAlive(const fs::path& lock)
{
    std::error_code error;
    const std::string target = fs::read_symlink(lock, error).string();
    if (error)
        return false;
    const auto dash = target.rfind('-');
    if (dash == std::string::npos || target.substr(0, dash) != hostName())
        return false;
    const pid_t pid = static_cast<pid_t>(std::atol(target.c_str() + dash + 1));
    return pid > 0 && pid != ::getpid() && (::kill(pid, 0) == 0 || errno == EPERM);
}

} // namespace

StandInInstance::StandInInstance(fs::path dataDir, QObject* parent)
    : QObject(parent)
    , m_dataDir(std::move(dataDir))
{ }

StandInInstance::~StandInInstance()
{
    if (!m_server)
        return;
    m_server->close();
    removeLinks();
    std::error_code error;
    fs::remove_all(m_socketFolder, error);
}

void StandInInstance::removeLinks() const
{
    std::error_code error;
    for (const char* name : {lockName, cookieName, socketName})
        fs::remove(m_dataDir / name, error);
}

bool StandInInstance::acquire()
{
    const fs::path lock = m_dataDir / lockName;
    const std::string owner = hostName() + "-" + std::to_string(::getpid());
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (::symlink(owner.c_str(), lock.c_str()) == 0)
            break;
        if (errno != EEXIST)
            throw std::runtime_error("can’t create " + lock.string() + ": " + std::strerror(errno));
        if (ownerIsAlive(lock))
            return false;
        removeLinks(); // left by an instance that is gone
        if (attempt == 4)
            throw std::runtime_error("can’t take over " + lock.string());
    }
    std::string folder = (fs::path(QDir::tempPath().toStdString()) / ".org.chromium.Chromium.XXXXXX").string();
    if (!::mkdtemp(folder.data())) {
        const std::string reason = std::strerror(errno);
        removeLinks();
        throw std::runtime_error("can’t create a socket folder: " + reason);
    }
    m_socketFolder = folder;
    const fs::path socket = m_socketFolder / socketName;
    m_server = new QLocalServer(this);
    if (!m_server->listen(QString::fromStdString(socket.string()))) {
        const std::string reason = m_server->errorString().toStdString();
        delete m_server;
        m_server = nullptr;
        removeLinks();
        throw std::runtime_error("can’t listen on " + socket.string() + ": " + reason);
    }
    connect(m_server, &QLocalServer::newConnection, this, &StandInInstance::accept);
    link(std::to_string(QRandomGenerator::global()->generate64()), m_dataDir / cookieName);
    link(socket.string(), m_dataDir / socketName);
    return true;
}

void StandInInstance::accept()
{
    while (QLocalSocket* connection = m_server->nextPendingConnection()) {
        connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
        connect(connection, &QLocalSocket::readyRead, this, [this, connection] {
            if (!connection->canReadLine())
                return;
            const QJsonArray list = QJsonDocument::fromJson(connection->readLine()).array();
            QStringList arguments;
            for (const auto& value : list)
                arguments.append(value.toString());
            connection->write("ACK\n");
            connection->flush();
            emit received(arguments);
        });
    }
}

void StandInInstance::forward(const QStringList& arguments) const
{
    QLocalSocket socket;
    // The folder's link names the running instance's socket; a starting instance may not have made it yet.
    QDeadlineTimer deadline(5000);
    for (;;) {
        // The link's target, not the link: a Unix socket path is short (108 bytes) and a data folder's path may
        // not be, which is why Chromium keeps the socket under /tmp in the first place.
        std::error_code error;
        const fs::path target = fs::read_symlink(m_dataDir / socketName, error);
        if (!error) {
            socket.connectToServer(QString::fromStdString(target.string()));
            if (socket.waitForConnected(1000))
                break;
            socket.abort();
        }
        if (deadline.hasExpired())
            throw std::runtime_error("can’t connect to the running instance: " +
                (error ? error.message() : socket.errorString().toStdString()));
        QThread::msleep(100);
    }
    socket.write(QJsonDocument(QJsonArray::fromStringList(arguments)).toJson(QJsonDocument::Compact) + "\n");
    if (!socket.waitForBytesWritten(5000))
        throw std::runtime_error("can’t send to the running instance: " + socket.errorString().toStdString());
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(5000))
            throw std::runtime_error("the running instance did not answer: " + socket.errorString().toStdString());
    }
    if (!socket.readLine().startsWith("ACK"))
        throw std::runtime_error("the running instance refused the arguments");
}
