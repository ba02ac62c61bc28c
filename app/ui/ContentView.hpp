#pragma once

#include "app/platform/Platform.hpp"
#include "app/ui/NewProfileSheet.hpp"
#include "app/ui/WelcomeView.hpp"

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>

class QAction;
class QSplitter;

namespace korvel {

class AppModel;
class EmptyStateView;
class ProfileDetailView;
class Sidebar;

// The management window, "Korvel": the sidebar of profiles beside the selected profile's details (or the empty
// state), the toolbar, the new-profile and welcome sheets and the model's error alert. Everything it shows
// follows the model's changed signal.
class ContentView : public QMainWindow
{
    Q_OBJECT

public:
    // Tall enough for a profile's whole form, "Delete Profile…" included, on a 1280×800 screen.
    static constexpr QSize defaultSize {880, 680};
    static constexpr QSize minimumSize {680, 420};

    ContentView(AppModel& model, Platform platform, QWidget* parent = nullptr);
    ~ContentView() override;

    void render();

    Sidebar* sidebar() const { return m_sidebar; }
    // The detail pane shows one of these; the other is nullptr or hidden.
    ProfileDetailView* profileDetail() const { return m_detail; }
    EmptyStateView* emptyState() const { return m_empty; }
    QAction* openAllButton() const { return m_openAllButton; }
    QAction* newProfileButton() const { return m_newProfileButton; }
    QAction* newProfileCommand() const { return m_newProfileCommand; }
    QAction* openAllCommand() const { return m_openAllCommand; }
    QAction* settingsCommand() const { return m_settingsCommand; }
    QAction* quitCommand() const { return m_quitCommand; }
    NewProfileSheet* newProfileSheet() const { return m_newProfileSheet; }
    WelcomeView* welcomeView() const { return m_welcome; }
    QMessageBox* errorAlert() const { return m_alert; }

signals:
    void settingsRequested();
    void quitRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void makeCommands();
    void makeToolbar();
    void drawIcons();
    void renderDetail();
    void renderSheets();
    void renderAlert();
    QWidget* topmostSheet() const;
    // An alert shown over a sheet that is about to close moves to the window.
    void keepAlertOpen(QWidget* closingSheet);

    AppModel& m_model;
    Platform m_platform;
    QSplitter* m_splitter;
    Sidebar* m_sidebar;
    QWidget* m_detailPane;
    EmptyStateView* m_empty;
    ProfileDetailView* m_detail = nullptr;
    QAction* m_openAllButton = nullptr;
    QAction* m_newProfileButton = nullptr;
    QAction* m_newProfileCommand = nullptr;
    QAction* m_openAllCommand = nullptr;
    QAction* m_settingsCommand = nullptr;
    QString m_newProfileTip;
    QAction* m_quitCommand = nullptr;
    QPointer<NewProfileSheet> m_newProfileSheet;
    QPointer<WelcomeView> m_welcome;
    QPointer<QMessageBox> m_alert;
};

} // namespace korvel
