#include "app/ui/MenuBarContent.hpp"

#include "app/model/AppModel.hpp"
#include "app/ui/BadgePixmap.hpp"
#include "app/ui/CommandIcon.hpp"

#include <QAction>
#include <QKeySequence>
#include <QMenu>

namespace korvel {
namespace {

using Kind = MenuBarContent::Entry::Kind;

QAction* command(QMenu& menu, const MenuBarContent::Entry& entry, const std::function<void()>& action)
{
    // A long profile name is cut with an ellipsis rather than widening the menu; "&" is shown, not a mnemonic.
    const QString text = QString::fromStdString(entry.text);
    const QString shown = menu.fontMetrics().elidedText(text, Qt::ElideRight, MenuBarContent::maximumTextWidth);
    QAction* item = menu.addAction(QString(shown).replace('&', "&&"));
    if (shown != text)
        item->setToolTip(text);
    item->setEnabled(entry.enabled);
    if (!entry.toolTip.empty())
        item->setToolTip(QString::fromStdString(entry.toolTip));
    menu.setToolTipsVisible(true);
    QObject::connect(item, &QAction::triggered, &menu, [action] {
        if (action)
            action();
    });
    return item;
}

} // namespace

std::vector<MenuBarContent::Entry> MenuBarContent::entries(const AppModel& model)
{
    std::vector<Entry> list;
    if (const auto active = model.activeProfile())
        list.push_back({Kind::Text, "Active: " + active->name, false, std::nullopt, {}});
    if (model.profiles().empty())
        list.push_back({Kind::Text, "No profiles yet", false, std::nullopt, {}});
    int rows = 0;
    for (const Profile& profile : model.profiles()) {
        if (rows++ == profileRowsPerMenu)
            list.push_back({Kind::MoreProfiles, "More Profiles", true, std::nullopt, {}});
        std::string text = profile.name;
        if (model.running().contains(profile.id))
            text += runningSuffix;
        list.push_back({Kind::Profile, text, true, profile, {}});
    }
    list.push_back({Kind::Separator, {}, true, std::nullopt, {}});
    list.push_back({Kind::OpenAll, "Open All Profiles", !model.profiles().empty(), std::nullopt, {}});
    const auto blocked = model.creationBlocked();
    list.push_back({Kind::NewProfile, "New Profile…", !blocked, std::nullopt, blocked.value_or("")});
    list.push_back({Kind::ManageProfiles, "Manage Profiles…", true, std::nullopt, {}});
    list.push_back({Kind::Settings, "Settings…", true, std::nullopt, {}});
    list.push_back({Kind::Separator, {}, true, std::nullopt, {}});
    list.push_back({Kind::Quit, "Quit Korvel", true, std::nullopt, {}});
    return list;
}

void MenuBarContent::fill(QMenu& menu, const std::vector<Entry>& entries, const Actions& actions, double scale)
{
    // Deleted later, not now: the menu may be rebuilt from inside one of its own actions.
    for (QAction* old : menu.actions()) {
        menu.removeAction(old);
        if (auto* submenu = old->menu<QMenu*>(); submenu && submenu->parent() == &menu)
            submenu->deleteLater();
        if (old->parent() == &menu)
            old->deleteLater();
    }
    QMenu* rows = &menu; // where Profile rows go
    const QColor ink = menu.palette().color(QPalette::WindowText);
    for (const Entry& entry : entries) {
        switch (entry.kind) {
        case Kind::Text:
            command(menu, entry, {});
            break;
        case Kind::Profile: {
            const Profile profile = *entry.profile;
            QAction* row = command(*rows, entry, [open = actions.open, profile] {
                if (open)
                    open(profile);
            });
            row->setIcon(QIcon(BadgePixmap::render(profile.letter(), profile.color, rowBadgeSize, scale)));
            row->setIconVisibleInMenu(true);
            break;
        }
        case Kind::MoreProfiles:
            rows = menu.addMenu(QString::fromStdString(entry.text));
            break;
        case Kind::Separator:
            rows = &menu;
            menu.addSeparator();
            break;
        case Kind::OpenAll:
            command(menu, entry, actions.openAll)->setIcon(CommandIcon::icon(CommandIcon::Command::OpenAll, ink));
            break;
        case Kind::NewProfile:
            command(menu, entry, actions.newProfile)->setIcon(CommandIcon::icon(CommandIcon::Command::NewProfile, ink));
            break;
        case Kind::ManageProfiles:
            command(menu, entry, actions.manageProfiles)
                ->setIcon(CommandIcon::icon(CommandIcon::Command::ManageProfiles, ink));
            break;
        case Kind::Settings: {
            QAction* settings = command(menu, entry, actions.settings);
            settings->setMenuRole(QAction::PreferencesRole);
            settings->setIcon(CommandIcon::icon(CommandIcon::Command::Settings, ink));
            break;
        }
        case Kind::Quit: {
            QAction* quit = command(menu, entry, actions.quit);
            quit->setIcon(CommandIcon::icon(CommandIcon::Command::Quit, ink));
            quit->setShortcut(QKeySequence::Quit);
            quit->setMenuRole(QAction::QuitRole);
            break;
        }
        }
    }
}

} // namespace korvel
