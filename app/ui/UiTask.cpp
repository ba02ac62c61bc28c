#include "app/ui/UiTask.hpp"

#include <QMetaObject>

namespace korvel {
namespace {

QCoro::Task<> runToEnd(std::function<QCoro::Task<>()> make)
{
    try {
        auto task = make(); // named: g++ 12 destroys temporaries of a co_await expression twice
        co_await task;
    } catch (...) {
        // The model reports its own failures; what is left here is the model going away meanwhile.
    }
}

} // namespace

void UiTask::start(QObject* context, std::function<QCoro::Task<>()> make)
{
    QMetaObject::invokeMethod(
        context, [make = std::move(make)] { runToEnd(make); }, Qt::QueuedConnection);
}

} // namespace korvel
