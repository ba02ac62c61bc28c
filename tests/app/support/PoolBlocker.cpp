#include "tests/app/support/PoolBlocker.hpp"

#include <QThreadPool>

namespace korvel::test {

PoolBlocker::PoolBlocker()
{
    QThreadPool* pool = QThreadPool::globalInstance();
    pool->waitForDone();
    const int threads = pool->maxThreadCount();
    for (int i = 0; i < threads; ++i) {
        pool->start([this] {
            std::unique_lock lock(m_mutex);
            ++m_waiting;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_released; });
            --m_waiting;
            m_changed.notify_all();
        });
    }
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this, threads] { return m_waiting == threads; });
}

void PoolBlocker::release()
{
    std::unique_lock lock(m_mutex);
    m_released = true;
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return m_waiting == 0; });
}

} // namespace korvel::test
