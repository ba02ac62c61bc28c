#pragma once

#include <QObject>

#include <sys/types.h>

#include <map>
#include <memory>
#include <set>

class QSocketNotifier;

namespace korvel {

// Tells when watched processes end, as the kernel reports it (a pidfd becomes readable): no polling. Main thread
// only.
class ProcessExits : public QObject
{
    Q_OBJECT

public:
    explicit ProcessExits(QObject* parent = nullptr);
    ~ProcessExits() override;

    // Watches exactly these processes from now on; one that has already gone is reported at once.
    void watchOnly(const std::set<pid_t>& processes);

signals:
    void exited(pid_t pid);

private:
    struct Watch;
    std::map<pid_t, std::unique_ptr<Watch>> m_watches;
};

} // namespace korvel
