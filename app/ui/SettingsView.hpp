#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QKeySequenceEdit;
class QLabel;
class QPushButton;

namespace korvel {

class AppModel;

// The settings window: launch at login, keeping profile apps up to date, bringing MCP servers over, routing
// claude:// links, the profile switcher's shortcut, and where things are on disk. Every toggle shows the actual state
// after each change, so a refused change springs back.
class SettingsView : public QWidget
{
    Q_OBJECT

public:
    explicit SettingsView(AppModel& model, QWidget* parent = nullptr);

    void render();

    QCheckBox* launchAtLoginToggle() const { return m_launchAtLogin; }
    QCheckBox* autoUpdateToggle() const { return m_autoUpdate; }
    QCheckBox* mcpServersToggle() const { return m_mcpServers; }
    QLabel* mcpServersFooter() const { return m_mcpFooter; }
    QCheckBox* routeLinksToggle() const { return m_routeLinks; }
    // Shown in a Wayland session only.
    QWidget* taskBarSection() const { return m_taskBar; }
    QComboBox* ownTaskBarIconsChoice() const { return m_ownTaskBarIcons; }
    QWidget* linksTakenBackRow() const { return m_takenBack; }
    QPushButton* turnOnAgainButton() const { return m_turnOnAgain; }
    QKeySequenceEdit* switcherShortcutField() const { return m_shortcut; }
    // Why the shortcut is not in use, when it was refused; hidden otherwise.
    QLabel* switcherShortcutProblem() const { return m_shortcutProblem; }
    QLabel* switcherShortcutFooter() const { return m_shortcutFooter; }
    QLabel* profileAppsLocation() const { return m_appsDir; }
    QLabel* profileDataLocation() const { return m_supportDir; }
    QLabel* claudeVersion() const { return m_claudeVersion; }

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void chooseShortcut();
    void renderShortcut();

    AppModel& m_model;
    QCheckBox* m_launchAtLogin;
    QCheckBox* m_autoUpdate;
    QCheckBox* m_mcpServers;
    QLabel* m_mcpFooter = nullptr;
    QCheckBox* m_routeLinks;
    QWidget* m_taskBar;
    QComboBox* m_ownTaskBarIcons;
    QWidget* m_takenBack;
    QPushButton* m_turnOnAgain;
    QKeySequenceEdit* m_shortcut;
    QLabel* m_shortcutProblem;
    QLabel* m_shortcutFooter = nullptr;
    QString m_refusedShortcut; // a combination the field did not take, with why
    QLabel* m_appsDir;
    QLabel* m_supportDir;
    QLabel* m_claudeVersion;
};

} // namespace korvel
