#pragma once

#include "app/ui/ContentView.hpp"
#include "app/ui/KorvelApp.hpp"
#include "tests/app/support/Await.hpp"
#include "tests/app/support/ModelSandbox.hpp"

#include <QWidget>

#include <memory>
#include <string>
#include <vector>

namespace korvel::test {

// The model's sandbox (fake desktop services, real files, a stand-in Claude Desktop) with the interface on top:
// the management window over the sandbox's model, or the whole application object with a model of its own.
class UiSandbox : public ModelSandbox
{
protected:
    ~UiSandbox() override;

    // The whole application on the sandbox; start() it as main() does.
    KorvelApp& makeApp();
    KorvelApp& startApp(bool tray = true)
    {
        makeApp().start(tray);
        return *app;
    }
    // Runs the event loop until nothing is building, importing or syncing in the application's model.
    void settleApp();
    void stopApp();
    // The management window over the sandbox's model (started when needed), shown and focused.
    ContentView& openWindow();

    // Shows `window`, waits until the desktop has drawn it, and gives it the focus.
    static void showAndWait(QWidget& window);
    // Saves what `widget` shows as <build>/screenshots/<name>.png, for a person to look at.
    static void screenshot(QWidget& widget, const std::string& name);

    // Menu items or buttons as text: "----" for a separator, " (off)" after a disabled one.
    template<typename T>
    static std::vector<std::string> texts(const QList<T*>& items)
    {
        std::vector<std::string> list;
        for (const T* item : items)
            list.push_back(
                item->text().isEmpty() ? "----" : item->text().toStdString() + (item->isEnabled() ? "" : " (off)"));
        return list;
    }

    std::unique_ptr<KorvelApp> app;
    std::unique_ptr<ContentView> window;
};

} // namespace korvel::test
