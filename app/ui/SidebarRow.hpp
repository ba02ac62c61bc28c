#pragma once

#include "core/model/Profile.hpp"

#include <QWidget>

#include <string>

namespace korvel {

class AppModel;
class BusyIndicator;
class ElidedLabel;
class ProfileBadge;
class StatusDot;

// One profile in the sidebar: badge, name, a subtitle that says what the profile is doing, and a status dot —
// or a spinner while an operation runs on it.
class SidebarRow : public QWidget
{
    Q_OBJECT

public:
    explicit SidebarRow(const Profile& profile, QWidget* parent = nullptr);

    // The first rule that applies: the busy message, "Active", "Running", then the app's status.
    static std::string subtitle(const AppModel& model, const Profile& profile);

    void render(const AppModel& model, const Profile& profile);
    // A selected row's texts take the selection's own text colour, so that they read on it.
    void setSelected(bool selected);

    QString name() const;
    QString subtitleText() const;
    bool showsSpinner() const;
    StatusDot* statusDot() const { return m_dot; }
    ProfileBadge* badge() const { return m_badge; }
    // The row as one element: "<name>, <subtitle>".
    QString accessibleText() const;

private:
    ProfileBadge* m_badge;
    ElidedLabel* m_name;
    ElidedLabel* m_subtitle;
    BusyIndicator* m_spinner;
    StatusDot* m_dot;
    bool m_selected = false;
};

} // namespace korvel
