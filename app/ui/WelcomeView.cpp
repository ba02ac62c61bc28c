#include "app/ui/WelcomeView.hpp"

#include "app/model/AppModel.hpp"
#include "app/ui/BusyIndicator.hpp"
#include "app/ui/DialogWindow.hpp"
#include "app/ui/NameAndColor.hpp"
#include "app/ui/OptionCard.hpp"
#include "app/ui/SheetHeight.hpp"
#include "app/ui/Step.hpp"
#include "app/ui/Symbol.hpp"
#include "app/ui/SymbolRow.hpp"
#include "app/ui/TextStyle.hpp"
#include "app/ui/UiTask.hpp"
#include "core/building/Wording.hpp"
#include "core/model/ClaudeDesktop.hpp"
#include "core/support/UnicodeText.hpp"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace korvel {
namespace {

const char* newAccountDetailImportable =
    "Keep using Claude as you do now for the account it’s signed into. This creates a new, empty profile where you "
    "sign in with a different account.";
const char* newAccountDetailPlain = "Creates a new, empty profile where you sign in with your Claude account.";

} // namespace

std::string WelcomeView::nameOrDefault(const QString& name, const std::string& fallback)
{
    std::string trimmed = UnicodeText::trimWhiteSpace(name.toStdString());
    return trimmed.empty() ? fallback : trimmed;
}

WelcomeView::WelcomeView(AppModel& model, Platform platform, QWidget* parent)
    : QDialog(parent)
    , m_model(model)
    , m_platform(platform)
{
    setWindowTitle("Welcome to Korvel");
    // Closing the window is "Not Now": a desktop may show a close button whatever a window asks, and Alt+F4 is how
    // Linux users dismiss a dialog.
    DialogWindow::prepare(*this);
    setFixedWidth(620);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(26, 26, 26, 26);
    layout->setSpacing(18);
    layout->addWidget(makeHeader());
    layout->addWidget(makeSteps());

    m_installRow = SymbolRow::make(Symbol::Name::ExclamationTriangleFill,
        QString::fromStdString(Wording::text(Wording::Text::InstallClaudeFirst)), TextStyle::Font::Body,
        SymbolRow::fixed(TextStyle::orange()), 8, this);
    m_installNotice = SymbolRow::text(*m_installRow);
    // The download page as a link the desktop's browser opens.
    const QString page = QString::fromUtf8(ClaudeDesktop::downloadPage.data(), ClaudeDesktop::downloadPage.size());
    m_installNotice->setTextFormat(Qt::RichText);
    m_installNotice->setText(m_installNotice->text().toHtmlEscaped().replace(
        page.toHtmlEscaped(), QString("<a href=\"%1\">%1</a>").arg(page.toHtmlEscaped())));
    m_installNotice->setOpenExternalLinks(true);
    m_installNotice->setTextInteractionFlags(Qt::TextBrowserInteraction);
    layout->addWidget(m_installRow);
    layout->addWidget(makeChoices());
    layout->addWidget(makeTips());

    auto* buttons = new QHBoxLayout;
    m_spinner = new BusyIndicator(14, this);
    buttons->addWidget(m_spinner);
    buttons->addStretch(1);
    m_notNow = new QPushButton("Not Now", this);
    m_notNow->setAutoDefault(false);
    m_notNow->setToolTip("Close this window. You can create profiles any time with Ctrl+N.");
    connect(m_notNow, &QPushButton::clicked, this, &WelcomeView::notNow);
    buttons->addWidget(m_notNow);
    m_primary = new QPushButton("Create Profile", this);
    m_primary->setDefault(true);
    connect(m_primary, &QPushButton::clicked, this, &WelcomeView::finish);
    buttons->addWidget(m_primary);
    layout->addLayout(buttons);
    render();
}

QWidget* WelcomeView::makeHeader()
{
    auto* header = new QWidget(this);
    auto* layout = new QHBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    auto* symbol = new QLabel(header);
    symbol->setPixmap(
        Symbol::pixmap(Symbol::Name::PersonTwoCircleFill, TextStyle::orange(), 44 * 1.2, devicePixelRatioF()));
    layout->addWidget(symbol);
    layout->addLayout(TextStyle::heading("Welcome to Korvel",
                          QString::fromStdString(Wording::text(Wording::Text::WelcomeSubtitle)), header),
        1);
    return header;
}

QWidget* WelcomeView::makeSteps()
{
    auto* steps = new QWidget(this);
    auto* layout = new QVBoxLayout(steps);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(new Step(1, QString::fromStdString(Wording::text(Wording::Text::OwnAppStep)), steps));
    layout->addWidget(new Step(2, "Sign in to a different account in each profile.", steps));
    layout->addWidget(new Step(3, "Keep them all open and switch with Alt-Tab. Nothing gets mixed up.", steps));
    return steps;
}

QWidget* WelcomeView::makeChoices()
{
    m_choices = new QWidget(this);
    auto* layout = new QVBoxLayout(m_choices);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    auto* question = new QLabel("How do you want to start?", m_choices);
    TextStyle::apply(question, TextStyle::Font::Headline);
    layout->addWidget(question);

    m_newFields = new NameAndColor("Work", ProfileColor::Blue);
    m_newCard =
        new OptionCard("Add another account", QString("Recommended"), newAccountDetailPlain, m_newFields, m_choices);
    connect(m_newCard, &OptionCard::selectRequested, this, [this] { choose(Start::NewAccount); });
    layout->addWidget(m_newCard);

    auto* importContent = new QWidget;
    auto* importLayout = new QVBoxLayout(importContent);
    importLayout->setContentsMargins(0, 0, 0, 0);
    importLayout->setSpacing(8);
    m_importFields = new NameAndColor("Personal", ProfileColor::Orange, importContent);
    m_importFields->nameField()->setText("Personal");
    importLayout->addWidget(m_importFields);
    m_quitClaudeRow = new QWidget(importContent);
    auto* quitLayout = new QHBoxLayout(m_quitClaudeRow);
    quitLayout->setContentsMargins(0, 0, 0, 0);
    quitLayout->addWidget(SymbolRow::make(Symbol::Name::ExclamationCircle,
                              "Claude needs to be closed so its data copies cleanly. Save anything you’re working "
                              "on first.",
                              TextStyle::Font::Callout, SymbolRow::fixed(TextStyle::orange()), 8, m_quitClaudeRow),
        1);
    m_quitClaude = new QPushButton("Quit Claude", m_quitClaudeRow);
    m_quitClaude->setAutoDefault(false);
    QFont small = m_quitClaude->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    m_quitClaude->setFont(small);
    connect(m_quitClaude, &QPushButton::clicked, this, [this] { m_model.quitOriginalClaude(); });
    quitLayout->addWidget(m_quitClaude, 0, Qt::AlignVCenter);
    importLayout->addWidget(m_quitClaudeRow);
    m_importCard = new OptionCard("Move my current Claude into a profile", std::nullopt,
        "Copies the account Claude is signed into now (login, local chats and settings) into a profile with its own "
        "icon. Your original Claude data is left untouched as a backup. Choose this if you want every account as a "
        "profile.",
        importContent, m_choices);
    connect(m_importCard, &OptionCard::selectRequested, this, [this] { choose(Start::ImportCurrent); });
    layout->addWidget(m_importCard);
    return m_choices;
}

QWidget* WelcomeView::makeTips()
{
    auto* tips = new QWidget(this);
    auto* layout = new QVBoxLayout(tips);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(
        SymbolRow::make(Symbol::Name::PersonBadgeKey, QString::fromStdString(Wording::text(Wording::Text::SignInTip)),
            TextStyle::Font::Callout, TextStyle::secondary, 8, tips));
    layout->addWidget(
        SymbolRow::make(Symbol::Name::Key, QString::fromStdString(Wording::text(Wording::Text::SafeStorageTip)),
            TextStyle::Font::Callout, TextStyle::secondary, 8, tips));
    return tips;
}

bool WelcomeView::claudeIsRunning() const
{
    for (const auto& application : m_platform.workspace.runningApplications()) {
        if (!application->isTerminated() && application->bundleIdentifier() == ClaudeDesktop::bundleIdentifier)
            return true;
    }
    return false;
}

bool WelcomeView::importable() const
{
    return m_model.hasImportableData();
}

bool WelcomeView::primaryEnabled() const
{
    if (m_working || m_model.creationBlocked())
        return false;
    return !(m_start == Start::ImportCurrent && claudeIsRunning());
}

void WelcomeView::render()
{
    const bool installed = m_model.builder().sourceVersion().has_value();
    const bool canImport = installed && importable();
    if (!canImport && m_start == Start::ImportCurrent)
        m_start = Start::NewAccount; // the card it belonged to is gone
    m_installRow->setVisible(!installed);
    m_choices->setVisible(installed);
    m_newCard->setDetail(canImport ? newAccountDetailImportable : newAccountDetailPlain);
    m_newCard->setSelected(m_start == Start::NewAccount);
    m_importCard->setVisible(canImport);
    m_importCard->setSelected(m_start == Start::ImportCurrent);
    m_quitClaudeRow->setVisible(claudeIsRunning());
    m_spinner->setVisible(m_working);
    m_notNow->setEnabled(!m_working);
    const QString title = m_start == Start::ImportCurrent ? "Import & Create Profile" : "Create Profile";
    m_primary->setText(QString(title).replace('&', "&&")); // a single & would mark a keyboard mnemonic
    m_primary->setAccessibleName(title);
    m_primary->setEnabled(primaryEnabled());
    SheetHeight::fit(*this);
    if (isVisible())
        DialogWindow::keepOnScreen(*this);
}

void WelcomeView::choose(Start start)
{
    m_start = start;
    render();
}

void WelcomeView::finish()
{
    if (!primaryEnabled())
        return;
    const bool import = m_start == Start::ImportCurrent;
    const std::string name =
        import ? nameOrDefault(m_importFields->name(), "Personal") : nameOrDefault(m_newFields->name(), "Work");
    const ProfileColor color = import ? m_importFields->color() : m_newFields->color();
    m_working = true;
    render();
    QPointer<WelcomeView> view(this);
    QPointer<AppModel> model(&m_model);
    UiTask::start(model, [view, model, name, color, import] { return finishing(view, model, name, color, import); });
}

QCoro::Task<> WelcomeView::finishing(
    QPointer<WelcomeView> view, QPointer<AppModel> model, std::string name, ProfileColor color, bool importOriginalData)
{
    auto creating = model->createProfile(std::move(name), color, importOriginalData);
    const std::optional<Profile> profile = co_await creating;
    if (!model)
        co_return;
    if (view) {
        view->m_working = false;
        view->render();
    }
    model->setDidCompleteWelcome(true);
    model->setShowWelcome(false);
    if (profile) {
        auto opening = model->open(*profile);
        co_await opening;
    }
}

void WelcomeView::notNow()
{
    m_model.setDidCompleteWelcome(true);
    dismiss();
}

void WelcomeView::dismiss()
{
    m_model.setShowWelcome(false);
}

void WelcomeView::reject() { }

void WelcomeView::closeSheet()
{
    m_closing = true;
    done(QDialog::Accepted);
}

void WelcomeView::closeEvent(QCloseEvent* event)
{
    if (m_closing) {
        event->accept(); // not QDialog's: it would reject, which does nothing here
        return;
    }
    event->ignore(); // the model closes the sheet
    if (!m_working)
        notNow();
}

} // namespace korvel
