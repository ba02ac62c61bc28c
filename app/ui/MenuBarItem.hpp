#pragma once

#include "app/ui/MenuBarContent.hpp"
#include "app/ui/MenuBarLabel.hpp"

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <vector>

namespace korvel {

class AppModel;

// Korvel in the desktop's tray: the label as the icon and the menu behind it, both following the model. The
// menu is rebuilt when what it shows changes, never on a timer.
class MenuBarItem : public QObject
{
    Q_OBJECT

public:
    MenuBarItem(AppModel& model, MenuBarContent::Actions actions, QObject* parent = nullptr);
    ~MenuBarItem() override;

    void show();

    QSystemTrayIcon& trayIcon() { return m_tray; }
    QMenu& menu() { return m_menu; }
    const MenuBarLabel& label() const { return m_label; }
    // How often the menu's actions were replaced; for tests of the rebuild rule.
    int menuBuilds() const { return m_menuBuilds; }

    void render();

private:
    AppModel& m_model;
    MenuBarContent::Actions m_actions;
    QMenu m_menu;
    QSystemTrayIcon m_tray;
    MenuBarLabel m_label;
    std::vector<MenuBarContent::Entry> m_entries;
    double m_scale = 0;
    bool m_rendered = false;
    int m_menuBuilds = 0;
};

} // namespace korvel
