#pragma once

#include "app/platform/Platform.hpp"
#include "core/model/ProfileColor.hpp"

#include <QDialog>
#include <QPointer>
#include <qcoro/qcorotask.h>

#include <string>

class QLabel;
class QPushButton;

namespace korvel {

class AppModel;
class BusyIndicator;
class NameAndColor;
class OptionCard;
class Step;

// The first-run sheet: what Korvel does in three steps and two ways to start — a new, empty profile for another
// account, or moving the account Claude Desktop is signed into now into a profile. Its own buttons close it, and
// closing its window counts as "Not Now"; each marks the welcome as done.
class WelcomeView : public QDialog
{
    Q_OBJECT

public:
    enum class Start { NewAccount, ImportCurrent };

    // The trimmed name, or `fallback` when nothing is left.
    static std::string nameOrDefault(const QString& name, const std::string& fallback);

    WelcomeView(AppModel& model, Platform platform, QWidget* parent = nullptr);

    void render();

    Start start() const { return m_start; }
    bool isWorking() const { return m_working; }
    bool primaryEnabled() const;
    bool claudeIsRunning() const;
    bool importable() const;

    // The parts, for tests and screenshots.
    QLabel* installNotice() const { return m_installNotice; }
    QWidget* choices() const { return m_choices; }
    OptionCard* newAccountCard() const { return m_newCard; }
    OptionCard* importCard() const { return m_importCard; }
    NameAndColor* newAccountFields() const { return m_newFields; }
    NameAndColor* importFields() const { return m_importFields; }
    QWidget* quitClaudeRow() const { return m_quitClaudeRow; }
    QPushButton* quitClaudeButton() const { return m_quitClaude; }
    BusyIndicator* spinner() const { return m_spinner; }
    QPushButton* notNowButton() const { return m_notNow; }
    QPushButton* primaryButton() const { return m_primary; }

    // Escape does nothing and closing the window means "Not Now": the welcome closes through its buttons, which
    // ask the model to hide it; the window then closes it with this.
    void reject() override;
    void closeSheet();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeSteps();
    QWidget* makeChoices();
    QWidget* makeTips();
    void choose(Start start);
    void finish();
    void notNow();
    void dismiss();
    static QCoro::Task<> finishing(QPointer<WelcomeView> view, QPointer<AppModel> model, std::string name,
        ProfileColor color, bool importOriginalData);

    AppModel& m_model;
    Platform m_platform;
    Start m_start = Start::NewAccount;
    bool m_working = false;
    bool m_closing = false;

    QLabel* m_installNotice = nullptr;
    QWidget* m_installRow = nullptr;
    QWidget* m_choices = nullptr;
    OptionCard* m_newCard = nullptr;
    OptionCard* m_importCard = nullptr;
    NameAndColor* m_newFields = nullptr;
    NameAndColor* m_importFields = nullptr;
    QWidget* m_quitClaudeRow = nullptr;
    QPushButton* m_quitClaude = nullptr;
    BusyIndicator* m_spinner = nullptr;
    QPushButton* m_notNow = nullptr;
    QPushButton* m_primary = nullptr;
};

} // namespace korvel
