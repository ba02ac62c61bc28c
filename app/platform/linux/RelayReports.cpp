#include "app/platform/linux/RelayReports.hpp"

#include "core/model/TaskBarIdentity.hpp"

#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace korvel {
namespace {

std::optional<sockaddr_un> addressOf(const std::filesystem::path& path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.native().size() >= sizeof address.sun_path)
        return std::nullopt;
    std::memcpy(address.sun_path, path.c_str(), path.native().size() + 1);
    return address;
}

// Someone accepts connections on the socket at `path` (a Korvel that runs, not one that died).
bool listenedOn(const std::filesystem::path& path)
{
    struct stat info
    { };
    if (::lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode))
        return false;
    const auto address = addressOf(path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (!address || fd < 0) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    const bool answered = ::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0 ||
        errno == EAGAIN; // a full backlog: alive, only busy
    ::close(fd);
    return answered;
}

// A listening socket at a fresh name beside `path`, 0600; the name through `bound`.
int listenBeside(const std::filesystem::path& path, std::filesystem::path& bound)
{
    std::random_device random;
    for (int attempt = 0; attempt < 8; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", random());
        bound = path.parent_path() / ("." + path.filename().string() + "-" + suffix);
        const auto address = addressOf(bound);
        if (!address)
            return -1;
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            return -1;
        // The fresh name lies in the user's own runtime folder: nobody else can reach it before the mode is set.
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0) {
            if (::chmod(bound.c_str(), 0600) == 0 && ::listen(fd, SOMAXCONN) == 0)
                return fd;
            ::unlink(bound.c_str());
            ::close(fd);
            return -1;
        }
        const int error = errno;
        ::close(fd);
        if (error != EADDRINUSE)
            return -1;
    }
    return -1;
}

// "active ID" or "inactive ID", ID a plain identifier.
std::optional<std::pair<std::string, bool>> parse(std::string_view line)
{
    bool active = false;
    if (line.starts_with("active "))
        active = true;
    else if (!line.starts_with("inactive "))
        return std::nullopt;
    const std::string_view id = line.substr(line.find(' ') + 1);
    if (id.empty())
        return std::nullopt;
    for (const char c : id) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
            c == '-' || c == '_';
        if (!plain)
            return std::nullopt;
    }
    return std::pair {std::string(id), active};
}

} // namespace

struct RelayReports::Sender
{
    QSocketNotifier* notifier = nullptr;
    std::string unread; // the start of a line
};

RelayReports::RelayReports(std::filesystem::path socket, Handler handler, QObject* parent)
    : QObject(parent)
    , m_socket(std::move(socket))
    , m_handler(std::move(handler))
{
    if (listenedOn(m_socket))
        return;
    std::filesystem::path bound;
    const int listener = listenBeside(m_socket, bound);
    if (listener < 0)
        return;
    struct stat info
    { };
    // rename replaces a link at the name itself, never what it points to.
    if (::lstat(bound.c_str(), &info) != 0 || ::rename(bound.c_str(), m_socket.c_str()) != 0) {
        ::unlink(bound.c_str());
        ::close(listener);
        return;
    }
    m_listener = listener;
    m_device = info.st_dev;
    m_inode = info.st_ino;
    m_notifier = new QSocketNotifier(m_listener, QSocketNotifier::Read, this);
    QObject::connect(m_notifier, &QSocketNotifier::activated, this, &RelayReports::accept);
}

RelayReports::~RelayReports()
{
    for (const auto& [fd, sender] : m_senders)
        ::close(fd);
    if (m_listener < 0)
        return;
    ::close(m_listener);
    struct stat info
    { };
    if (::lstat(m_socket.c_str(), &info) == 0 && info.st_dev == m_device && info.st_ino == m_inode)
        ::unlink(m_socket.c_str());
}

std::optional<std::filesystem::path> RelayReports::defaultSocket()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || *runtime != '/')
        return std::nullopt;
    return std::filesystem::path(runtime) / TaskBarIdentities::relayReportSocket;
}

void RelayReports::accept()
{
    const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0)
        return;
    if (m_senders.size() >= maximumConnections) {
        ::close(fd);
        return;
    }
    auto sender = std::make_unique<Sender>();
    sender->notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    QObject::connect(sender->notifier, &QSocketNotifier::activated, this, [this, fd] { read(fd); });
    m_senders.emplace(fd, std::move(sender));
}

void RelayReports::read(int fd)
{
    const auto found = m_senders.find(fd);
    if (found == m_senders.end())
        return;
    char buffer[4096];
    const ssize_t count = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (count < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (count <= 0)
        return drop(fd); // the sender is done (a line it did not end is not a report)
    std::string& unread = found->second->unread;
    unread.append(buffer, static_cast<size_t>(count));
    size_t start = 0;
    for (size_t end; (end = unread.find('\n', start)) != std::string::npos; start = end + 1) {
        const auto report =
            end - start <= maximumLine ? parse(std::string_view(unread).substr(start, end - start)) : std::nullopt;
        if (!report)
            return drop(fd);
        m_handler(report->first, report->second);
        if (!m_senders.contains(fd))
            return;
    }
    unread.erase(0, start);
    if (unread.size() > maximumLine)
        drop(fd);
}

void RelayReports::drop(int fd)
{
    const auto found = m_senders.find(fd);
    if (found == m_senders.end())
        return;
    // Perhaps called from the notifier's own signal: it goes once that has returned.
    found->second->notifier->setEnabled(false);
    found->second->notifier->deleteLater();
    ::close(fd);
    m_senders.erase(found);
}

} // namespace korvel
