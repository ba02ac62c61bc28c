#pragma once

#include <qcoro/qcorotask.h>

#include <functional>
#include <string>

namespace korvel {

// One key combination that reaches Korvel whichever program has the keyboard. Main thread only.
class GlobalShortcut
{
public:
    virtual ~GlobalShortcut() = default;

    // False where the desktop offers no global shortcuts (neither an X11 grab nor a portal).
    virtual bool isAvailable() const = 0;
    // Binds `keys` in Qt's portable text ("Ctrl+Alt+K"), replacing the previous binding; empty unbinds. Finishes
    // with std::exception giving the reason when the combination is taken, refused or cannot be bound; the
    // previous binding is gone then.
    virtual QCoro::Task<> bind(std::string keys) = 0;
    // Called on the main thread each time the bound combination is pressed.
    virtual void setActivationHandler(std::function<void()> handler) = 0;
};

} // namespace korvel
