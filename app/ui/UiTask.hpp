#pragma once

#include <QObject>
#include <qcoro/qcorotask.h>

#include <functional>

namespace korvel {

// Starting the model's asynchronous operations from the interface without waiting for them.
namespace UiTask {

// Starts the coroutine that `make` returns on the next turn of the event loop — never inside the signal that
// asked for it, whose sender the first steps of the operation may re-render away — and lets it run to its end,
// ignoring its outcome (the model reports failures itself). Nothing starts when `context` is gone by then.
//
// `make` must not be a coroutine itself: its captures would die with it. Let it call a coroutine that takes its
// values as parameters.
void start(QObject* context, std::function<QCoro::Task<>()> make);

} // namespace UiTask
} // namespace korvel
