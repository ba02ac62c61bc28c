#pragma once

#include "core/model/Profile.hpp"

#include <QDialog>

#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;

namespace korvel {

class AppModel;
class ColorPalette;
class ProfileBadge;

// The everyday sheet that creates an empty profile: a name (a free suggestion as placeholder) and a colour
// (the first one no profile uses). Creating dismisses the sheet at once; progress then shows in the window.
class NewProfileSheet : public QDialog
{
    Q_OBJECT

public:
    static const std::vector<std::string>& suggestions();
    // The first suggestion no profile has (ignoring case), else "Profile <count + 1>".
    static std::string suggestedName(const std::vector<Profile>& profiles);
    // The trimmed name, or the suggestion when nothing is left.
    static std::string finalName(const std::string& name, const std::vector<Profile>& profiles);

    explicit NewProfileSheet(AppModel& model, QWidget* parent = nullptr);

    QLineEdit* nameField() const { return m_name; }
    ColorPalette* colorPalette() const { return m_palette; }
    ProfileBadge* badge() const { return m_badge; }
    QLabel* explanation() const { return m_explanation; }
    QPushButton* createButton() const { return m_create; }
    QPushButton* cancelButton() const { return m_cancel; }

private:
    void render();
    void create();

    AppModel& m_model;
    ProfileBadge* m_badge;
    QLineEdit* m_name;
    ColorPalette* m_palette;
    QLabel* m_explanation;
    QPushButton* m_cancel;
    QPushButton* m_create;
};

} // namespace korvel
