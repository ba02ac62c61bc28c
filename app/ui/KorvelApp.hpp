#pragma once

#include "app/model/AppModel.hpp"
#include "app/platform/Platform.hpp"
#include "app/ui/AppDelegate.hpp"
#include "app/ui/MoveToApplications.hpp"

#include <QObject>

#include <memory>

namespace korvel {

class ContentView;
class MenuBarItem;
class SettingsView;
class SwitcherWindow;

// The application: the one model, the delegate, the tray item and the windows, created when first needed.
// Closing a window never ends Korvel; only "Quit Korvel" does, through quitRequested.
class KorvelApp : public QObject
{
    Q_OBJECT

public:
    // The model starts here (it reads settings, loads the profiles and looks at the disk and the desktop).
    KorvelApp(AppPaths paths, Platform platform, std::filesystem::path launcherURL,
        MoveToApplications::System moveSystem, QObject* parent = nullptr);
    ~KorvelApp() override;

    AppModel& model() { return m_model; }
    AppDelegate& delegate() { return m_delegate; }
    MenuBarItem* menuBarItem() const { return m_menuBar.get(); }
    ContentView* mainWindow() const { return m_window.get(); }
    SettingsView* settingsWindow() const { return m_settings.get(); }
    SwitcherWindow* switcherWindow() const { return m_switcher.get(); }

    // Shows the tray item, or — on a desktop without a tray — the management window, which also opens when the
    // welcome is due; then runs the delegate's launch step.
    void start(bool trayAvailable);

    // The tray menu's commands.
    void openMainWindow(); // "Manage Profiles…"
    void newProfile(); // "New Profile…": the window, then the sheet
    void openSettings(); // "Settings…"
    // What the global shortcut and `korvel switcher` show.
    void showSwitcher();

signals:
    // "Quit Korvel" was chosen.
    void quitRequested();

private:
    ContentView& window();

    Platform m_platform;
    AppModel m_model;
    AppDelegate m_delegate;
    std::unique_ptr<MenuBarItem> m_menuBar;
    std::unique_ptr<ContentView> m_window;
    std::unique_ptr<SettingsView> m_settings;
    std::unique_ptr<SwitcherWindow> m_switcher;
};

} // namespace korvel
