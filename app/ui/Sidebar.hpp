#pragma once

#include "app/platform/Platform.hpp"
#include "core/model/Profile.hpp"

#include <QWidget>

#include <set>
#include <vector>

class QLabel;
class QListWidget;
class QMenu;

namespace korvel {

class AppModel;
class SidebarRow;

// The list of profiles in the management window: selection bound to the model's, rows reordered by dragging,
// a context menu per row, and a warning pinned below while Claude Desktop is missing.
class Sidebar : public QWidget
{
    Q_OBJECT

public:
    Sidebar(AppModel& model, Platform platform, QWidget* parent = nullptr);

    void render();

    QListWidget* list() const { return m_list; }
    SidebarRow* row(int index) const;
    // The warning pinned below the list; its row is hidden while Claude Desktop is installed.
    QLabel* missingClaudeWarning() const { return m_warning; }
    bool showsMissingClaudeWarning() const;
    // The line that shows where dragged rows would land; visible only during a drag over the list.
    QWidget* dropIndicator() const { return m_dropIndicator; }

    // The context menu of a profile's row, as a right click shows it.
    QMenu* makeContextMenu(const Profile& profile, QWidget* parent);
    // Moves the rows at `from` before the row at `to`.
    void moveRows(const std::set<size_t>& from, size_t to);

private:
    void rebuildRows();
    void selectionEdited();
    void showContextMenu(const QPoint& position);
    // A dragged row, by its profile's id, dropped into the gap before row `gap`.
    void dropRow(const QString& id, size_t gap);

    AppModel& m_model;
    Platform m_platform;
    QListWidget* m_list;
    QLabel* m_warning;
    QWidget* m_warningRow = nullptr;
    QWidget* m_dropIndicator = nullptr;
    std::vector<Uuid> m_ids; // the profiles the rows show, in order
    bool m_rendering = false;
};

} // namespace korvel
