#include "app/platform/linux/ProcessExits.hpp"

#include <QSocketNotifier>

#include <cerrno>
#include <sys/syscall.h>
#include <unistd.h>

namespace korvel {

struct ProcessExits::Watch
{
    int fd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
    ~Watch()
    {
        notifier.reset();
        if (fd >= 0)
            ::close(fd);
    }
};

ProcessExits::ProcessExits(QObject* parent)
    : QObject(parent)
{ }

ProcessExits::~ProcessExits() = default;

void ProcessExits::watchOnly(const std::set<pid_t>& processes)
{
    std::erase_if(m_watches, [&processes](const auto& item) { return !processes.contains(item.first); });
    for (const pid_t pid : processes) {
        if (m_watches.contains(pid))
            continue;
        auto watch = std::make_unique<Watch>();
        watch->fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        if (watch->fd < 0) {
            // Gone already; on a kernel without pidfds the next scan tells instead.
            if (errno == ESRCH)
                QMetaObject::invokeMethod(
                    this, [this, pid] { emit exited(pid); }, Qt::QueuedConnection);
            continue;
        }
        watch->notifier = std::make_unique<QSocketNotifier>(watch->fd, QSocketNotifier::Read);
        QSocketNotifier* notifier = watch->notifier.get();
        QObject::connect(notifier, &QSocketNotifier::activated, this, [this, notifier, pid] {
            notifier->setEnabled(false); // readable for good now; forgotten at the next watchOnly
            emit exited(pid);
        });
        m_watches.emplace(pid, std::move(watch));
    }
}

} // namespace korvel
