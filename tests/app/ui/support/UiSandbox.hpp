#pragma once

#include "app/ui/KorvelApp.hpp"
#include "tests/app/support/ModelSandbox.hpp"

#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace korvel::test {

// The model's sandbox (fake desktop services, real files, a stand-in Claude Desktop) with the interface on top:
// windows over the sandbox's model, or the whole application object with a model of its own.
class UiSandbox : public ModelSandbox
{
protected:
    UiSandbox();
    ~UiSandbox() override;

    // The whole application on the sandbox; start() it as main() does.
    KorvelApp& makeApp();
    // Runs the event loop until nothing is building, importing or syncing in the application's model.
    void settleApp();
    void stopApp();

    // Shows `window`, waits until the desktop has drawn it, and gives it the focus.
    static void showAndWait(QWidget& window);
    // Saves what `widget` shows as <build>/screenshots/<name>.png, for a person to look at.
    static void screenshot(QWidget& widget, const std::string& name);
    // Runs the event loop until `done` holds; false after `timeout`.
    static bool eventually(
        const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10));

    std::unique_ptr<KorvelApp> app;
};

} // namespace korvel::test
