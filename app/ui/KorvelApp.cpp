#include "app/ui/KorvelApp.hpp"

#include "app/ui/ContentView.hpp"
#include "app/ui/MenuBarItem.hpp"
#include "app/ui/SettingsView.hpp"
#include "app/ui/SwitcherWindow.hpp"
#include "app/ui/UiTask.hpp"

#include <QApplication>

namespace korvel {
namespace {

void bringToFront(QWidget& window)
{
    if (window.isMinimized())
        window.showNormal();
    else
        window.show();
    window.raise();
    window.activateWindow();
    // A sheet open on the window (the welcome) is what the keyboard should reach. A Wayland compositor focuses the
    // window mapped last and ignores activation requests without its token: the sheet is mapped again after it.
    for (QWidget* sheet : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (sheet->isWindow() && sheet->isVisible() && sheet->windowModality() != Qt::NonModal) {
            sheet->hide();
            sheet->show();
        }
}

} // namespace

KorvelApp::KorvelApp(AppPaths paths, Platform platform, std::filesystem::path launcherURL,
    MoveToApplications::System moveSystem, QObject* parent)
    : QObject(parent)
    , m_platform(platform)
    , m_model(std::move(paths), platform, std::move(launcherURL))
    , m_delegate(std::move(moveSystem))
{ }

KorvelApp::~KorvelApp() = default;

void KorvelApp::start(bool trayAvailable)
{
    QApplication::setQuitOnLastWindowClosed(m_delegate.applicationShouldTerminateAfterLastWindowClosed());
    AppModel& model = m_model;
    MenuBarContent::Actions actions;
    actions.open = [&model](const Profile& profile) {
        UiTask::start(&model, [&model, profile] { return model.open(profile); });
    };
    actions.openAll = [&model] { UiTask::start(&model, [&model] { return model.openAll(); }); };
    actions.newProfile = [this] { newProfile(); };
    actions.manageProfiles = [this] { openMainWindow(); };
    actions.settings = [this] { openSettings(); };
    actions.quit = [this] { emit quitRequested(); };
    m_menuBar = std::make_unique<MenuBarItem>(m_model, std::move(actions));
    m_delegate.connect(m_model);
    connect(&m_model, &AppModel::switcherRequested, this, &KorvelApp::showSwitcher);
    if (trayAvailable)
        m_menuBar->show();
    if (!trayAvailable || m_model.showWelcome())
        openMainWindow();
    m_delegate.applicationDidFinishLaunching();
}

ContentView& KorvelApp::window()
{
    if (!m_window) {
        m_window = std::make_unique<ContentView>(m_model, m_platform);
        connect(m_window.get(), &ContentView::quitRequested, this, &KorvelApp::quitRequested);
        connect(m_window.get(), &ContentView::settingsRequested, this, &KorvelApp::openSettings);
    }
    return *m_window;
}

void KorvelApp::openMainWindow()
{
    m_delegate.connect(m_model);
    bringToFront(window());
}

void KorvelApp::newProfile()
{
    openMainWindow();
    m_model.setShowNewProfile(true);
}

void KorvelApp::openSettings()
{
    if (!m_settings)
        m_settings = std::make_unique<SettingsView>(m_model);
    bringToFront(*m_settings);
}

void KorvelApp::showSwitcher()
{
    if (!m_switcher)
        m_switcher = std::make_unique<SwitcherWindow>(m_model);
    m_switcher->present();
}

} // namespace korvel
