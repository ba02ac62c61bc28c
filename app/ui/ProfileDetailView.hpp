#pragma once

#include "app/model/AppModel.hpp"
#include "app/platform/Platform.hpp"
#include "app/ui/FormSection.hpp"
#include "core/model/Profile.hpp"

#include <QMessageBox>
#include <QPointer>
#include <QScrollArea>

#include <chrono>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace korvel {

class BusyIndicator;
class ColorPalette;
class ElidedLabel;

class ProfileBadge;
class StatusDot;

// One profile in the management window: its state and actions, its name and colour, sessions waiting for a
// restart, its app, Claude Code, and deleting it. Shows the profile with the given id as the model holds it; the
// name and colour being edited are the view's own until they are committed.
class ProfileDetailView : public QScrollArea
{
    Q_OBJECT

public:
    ProfileDetailView(AppModel& model, Platform platform, const Uuid& id, QWidget* parent = nullptr);

    // The form's widest, margins included: a maximised window on a large screen centres it.
    static constexpr int maximumContentWidth = 760;

    // How long "Copy Export Command" says "Copied" after a click.
    static constexpr std::chrono::milliseconds copiedConfirmation {1500};

    // "1 session and 3 pins ready", "2 pins ready".
    static std::string pendingTitle(const AppModel::PendingImport& pending);

    const Uuid& profileID() const { return m_id; }
    QWidget* column() const { return m_column; }
    void render();
    // Saves the edited name when it is not blank and differs; a blank name puts the stored one back.
    void commitName();
    // What Return does in the window: "Open" while the profile's app is stopped and can be opened.
    void performDefaultAction();

    // The parts, for tests and screenshots.
    ProfileBadge* badge() const { return m_badge; }
    ElidedLabel* appName() const { return m_appName; }
    StatusDot* statusDot() const { return m_dot; }
    QLabel* statusText() const { return m_statusText; }
    BusyIndicator* spinner() const { return m_spinner; }
    ElidedLabel* busyText() const { return m_busyText; }
    QPushButton* quitButton() const { return m_quit; }
    QPushButton* openButton() const { return m_open; }
    QLineEdit* nameField() const { return m_nameField; }
    ColorPalette* colorPalette() const { return m_palette; }
    QWidget* renameNotice() const { return m_renameNotice; }
    QWidget* pendingBanner() const { return m_pending; }
    QLabel* pendingTitleLabel() const { return m_pendingTitle; }
    QLabel* pendingText() const { return m_pendingText; }
    QPushButton* restartButton() const { return m_restart; }
    ElidedLabel* statusSummary() const { return m_summary; }
    QPushButton* locationButton() const { return m_location; }
    QPushButton* showDataButton() const { return m_showData; }
    QPushButton* rebuildButton() const { return m_rebuild; }
    QPushButton* openInTerminalButton() const { return m_terminal; }
    QPushButton* copyExportButton() const { return m_copyExport; }
    QPushButton* deleteButton() const { return m_delete; }
    // The delete confirmation while it is shown.
    QMessageBox* deleteConfirmation() const { return m_confirmDelete; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeHeader();
    FormSection* makeProfileSection();
    FormSection* makePendingSection();
    FormSection* makeAppSection();
    FormSection* makeClaudeCodeSection();
    FormSection* makeDeleteSection();
    void colorChosen(ProfileColor color);
    void updateBadge();
    void confirmCopied();
    void confirmDelete();
    void quitApp();
    template<typename Operation>
    void start(Operation operation);

    QWidget* m_column = nullptr;
    AppModel& m_model;
    Platform m_platform;
    Uuid m_id;
    Profile m_shown; // the stored profile at the last render

    ProfileBadge* m_badge = nullptr;
    ElidedLabel* m_appName = nullptr;
    StatusDot* m_dot = nullptr;
    QLabel* m_statusText = nullptr;
    BusyIndicator* m_spinner = nullptr;
    ElidedLabel* m_busyText = nullptr;
    QPushButton* m_quit = nullptr;
    QPushButton* m_open = nullptr;
    QLineEdit* m_nameField = nullptr;
    ColorPalette* m_palette = nullptr;
    QWidget* m_renameNotice = nullptr;
    FormSection* m_pending = nullptr;
    QLabel* m_pendingTitle = nullptr;
    QLabel* m_pendingText = nullptr;
    QPushButton* m_restart = nullptr;
    ElidedLabel* m_summary = nullptr;
    QPushButton* m_location = nullptr;
    QPushButton* m_showData = nullptr;
    QPushButton* m_rebuild = nullptr;
    QPushButton* m_terminal = nullptr;
    QPushButton* m_copyExport = nullptr;
    QPushButton* m_delete = nullptr;
    QPointer<QMessageBox> m_confirmDelete;
};

} // namespace korvel
