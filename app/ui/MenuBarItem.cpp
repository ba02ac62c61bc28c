#include "app/ui/MenuBarItem.hpp"

#include "app/model/AppModel.hpp"

#include <QGuiApplication>

namespace korvel {

MenuBarItem::MenuBarItem(AppModel& model, MenuBarContent::Actions actions, QObject* parent)
    : QObject(parent)
    , m_model(model)
    , m_actions(std::move(actions))
{
    m_tray.setContextMenu(&m_menu);
    // A left click shows the menu too, as a menu-bar item does. A right click shows it by itself on an X11 tray;
    // a StatusNotifier host that does not read the exported menu (swaybar) only reports the click.
    connect(&m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || (reason == QSystemTrayIcon::Context && !m_menu.isVisible()))
            m_menu.popup(m_tray.geometry().isValid() ? m_tray.geometry().bottomLeft() : QCursor::pos());
    });
    connect(&m_model, &AppModel::changed, this, &MenuBarItem::render);
    render();
}

MenuBarItem::~MenuBarItem()
{
    m_tray.setContextMenu(nullptr);
}

void MenuBarItem::show()
{
    m_tray.show();
}

void MenuBarItem::render()
{
    MenuBarLabel label {m_model.activeProfile()};
    if (!m_rendered || !(label == m_label)) {
        m_label = std::move(label);
        m_tray.setIcon(m_label.icon());
        m_tray.setToolTip(m_label.accessibilityLabel());
    }
    const double scale = qGuiApp->devicePixelRatio();
    std::vector<MenuBarContent::Entry> entries = MenuBarContent::entries(m_model);
    if (!m_rendered || entries != m_entries || scale != m_scale) {
        m_entries = std::move(entries);
        m_scale = scale;
        MenuBarContent::fill(m_menu, m_entries, m_actions, scale);
        ++m_menuBuilds;
    }
    m_rendered = true;
}

} // namespace korvel
