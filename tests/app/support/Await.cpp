#include "tests/app/support/Await.hpp"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThreadPool>
#include <QTimer>

#include <gtest/gtest.h>

namespace korvel::test {

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    if (done())
        return true;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > timeout.count())
            loop.quit();
    });
    poll.start();
    loop.exec();
    return done();
}

void waitForBackgroundJobs(std::chrono::milliseconds timeout)
{
    QThreadPool* pool = QThreadPool::globalInstance();
    if (!pool->waitForDone(static_cast<int>(timeout.count())))
        ADD_FAILURE() << pool->activeThreadCount() << " background jobs still running after " << timeout.count()
                      << " ms";
}

void spin(std::chrono::milliseconds duration)
{
    QElapsedTimer clock;
    clock.start();
    waitUntil([&clock, duration] { return clock.elapsed() >= duration.count(); }, duration * 2);
}

} // namespace korvel::test
