#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

#include <coroutine>
#include <memory>

namespace korvel {

// Awaits the next emission of `signal` by `sender`; the coroutine goes on from the event loop, after the
// emitter has finished what it was doing. Should the sender be destroyed first, the coroutine never goes on.
template<typename Sender, typename Signal>
class NextSignal
{
public:
    NextSignal(Sender* sender, Signal signal)
        : m_sender(sender)
        , m_signal(signal)
    { }

    bool await_ready() const noexcept { return false; }

    void await_suspend(std::coroutine_handle<> waiting)
    {
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = QObject::connect(m_sender, m_signal, m_sender, [connection, waiting] {
            QObject::disconnect(*connection);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [waiting] { waiting.resume(); }, Qt::QueuedConnection);
        });
    }

    void await_resume() const noexcept { }

private:
    Sender* m_sender;
    Signal m_signal;
};

} // namespace korvel
