#include "app/ui/SettingsView.hpp"

#include "app/model/AppModel.hpp"
#include "app/ui/AccessibleRoles.hpp"
#include "app/ui/FocusRing.hpp"
#include "app/ui/FormSection.hpp"
#include "app/ui/PathText.hpp"
#include "app/ui/Symbol.hpp"
#include "app/ui/TextStyle.hpp"
#include "app/ui/UiTask.hpp"
#include "core/building/Wording.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QTimer>
#include <QVBoxLayout>

namespace korvel {
namespace {

QLabel* valueLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    TextStyle::apply(label, TextStyle::Font::Body, true);
    return label;
}

QString taskBarFooter(Workspace::Session session)
{
    const QString relay = "Through Korvel’s relay, windows stay sharp and native, each profile has its own icon and "
                          "Korvel sees which profile is in front. ";
    if (session == Workspace::Session::Wayland)
        return relay + "This desktop runs no XWayland. Off, profile windows are shown under Claude’s own icon.";
    return relay +
        "Through XWayland, Korvel can also bring a profile forward wherever it is, but text may look soft "
        "when the display is scaled. Off, profile windows are shown under Claude’s own icon. Profiles that "
        "are open change when they next start.";
}

// A global shortcut takes its keys from every other program: a key without Ctrl, Alt or Super would be lost to
// typing everywhere. Function keys may stand alone.
bool canBeGlobal(QKeyCombination keys)
{
    const bool modified = keys.keyboardModifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    return modified || (keys.key() >= Qt::Key_F1 && keys.key() <= Qt::Key_F35);
}

// The choices in the order the menu lists them.
constexpr TaskBarIdentity taskBarChoices[] = {
    TaskBarIdentity::Relay, TaskBarIdentity::XWayland, TaskBarIdentity::Native};

} // namespace

SettingsView::SettingsView(AppModel& model, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_model(model)
    , m_launchAtLogin(new QCheckBox("Launch at login", this))
    , m_autoUpdate(new QCheckBox("Keep profile apps up to date with Claude", this))
    , m_mcpServers(new QCheckBox("Bring MCP servers from Claude into profiles", this))
    , m_routeLinks(new QCheckBox("Send claude:// links to the active profile", this))
    , m_ownTaskBarIcons(new QComboBox(this))
    , m_takenBack(new QWidget(this))
    , m_turnOnAgain(new QPushButton("Turn On Again", this))
    , m_shortcut(new QKeySequenceEdit(this))
    , m_shortcutProblem(new QLabel(this))
    , m_appsDir(valueLabel(this))
    , m_supportDir(valueLabel(this))
    , m_claudeVersion(valueLabel(this))
{
    setWindowTitle("Korvel Settings");
    FocusRing::install();
    AccessibleRoles::install();
    setFixedWidth(520);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(18);

    auto* general = new FormSection({}, this);
    general->addRow(m_launchAtLogin);
    general->addRow(m_autoUpdate);
    general->setFooter(QString::fromStdString(Wording::text(Wording::Text::AutoUpdateFooter)));
    layout->addWidget(general);

    auto* mcp = new FormSection({}, this);
    mcp->addRow(m_mcpServers);
    m_mcpFooter = mcp->setFooter("MCP servers you add to Claude are added to every profile once; a server you change "
                                 "or remove in a profile stays as you left it.");
    m_mcpServers->setToolTip(m_mcpFooter->text());
    layout->addWidget(mcp);

    auto* links = new FormSection({}, this);
    links->addRow(m_routeLinks);
    auto* takenBackLayout = new QHBoxLayout(m_takenBack);
    takenBackLayout->setContentsMargins(0, 0, 0, 0);
    takenBackLayout->addStretch(1);
    auto* warningIcon = new QLabel(m_takenBack);
    warningIcon->setPixmap(Symbol::pixmap(
        Symbol::Name::ExclamationTriangle, TextStyle::orange(), QFontMetricsF(font()).height(), devicePixelRatioF()));
    takenBackLayout->addWidget(warningIcon);
    auto* warning = new QLabel("Claude took the links back.", m_takenBack);
    TextStyle::setTextColor(warning, TextStyle::orange());
    takenBackLayout->addWidget(warning);
    m_turnOnAgain->setAutoDefault(false);
    takenBackLayout->addWidget(m_turnOnAgain);
    takenBackLayout->addStretch(1);
    m_takenBack->setAccessibleName("Claude took the links back.");
    links->addRow(m_takenBack);
    links->setFooter("Not needed for Google sign-in. Use this if you open claude:// links from your browser or email "
                     "(magic links, shared chats, SSO) and want them in the profile you were last using instead of "
                     "the original Claude app. Turning it off gives the links back to Claude.");
    layout->addWidget(links);

    auto* taskBar = new FormSection({}, this);
    m_taskBar = taskBar;
    m_ownTaskBarIcons->addItems({"Through a Wayland relay", "Through XWayland", "Off"});
    // XWayland is no choice where the session has none.
    if (auto* items = qobject_cast<QStandardItemModel*>(m_ownTaskBarIcons->model()))
        items->item(1)->setEnabled(m_model.session() != Workspace::Session::Wayland);
    taskBar->addRow("Give each profile its own task-bar icon", m_ownTaskBarIcons);
    taskBar->setFooter(taskBarFooter(m_model.session()));
    taskBar->setVisible(m_model.session() == Workspace::Session::Wayland ||
        m_model.session() == Workspace::Session::WaylandWithXWayland);
    layout->addWidget(taskBar);

    auto* switcher = new FormSection({}, this);
    m_shortcut->setClearButtonEnabled(true);
    m_shortcut->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    switcher->addRow("Profile switcher shortcut", m_shortcut);
    m_shortcutProblem->setWordWrap(true);
    m_shortcutProblem->setTextFormat(Qt::PlainText);
    TextStyle::setTextColor(m_shortcutProblem, TextStyle::orange());
    switcher->addRow(m_shortcutProblem);
    m_shortcutFooter = switcher->setFooter({});
    layout->addWidget(switcher);

    auto* locations = new FormSection("Locations", this);
    locations->addRow("Profile apps", m_appsDir);
    locations->addRow("Profile data", m_supportDir);
    locations->addRow("Claude Desktop", m_claudeVersion);
    layout->addWidget(locations);
    layout->addStretch(1);

    // The model announces every attempt, so the toggle is redrawn from the login item's actual state.
    connect(m_launchAtLogin, &QCheckBox::clicked, this, [this](bool enabled) { m_model.setLaunchAtLogin(enabled); });
    connect(
        m_autoUpdate, &QCheckBox::clicked, this, [this](bool enabled) { m_model.setAutoUpdateProfileApps(enabled); });
    connect(m_mcpServers, &QCheckBox::clicked, this, [this](bool enabled) { m_model.setBringMcpServers(enabled); });
    connect(m_ownTaskBarIcons, &QComboBox::activated, this,
        [this](int index) { m_model.setTaskBarIdentity(taskBarChoices[index]); });
    AppModel& shared = m_model;
    connect(m_routeLinks, &QCheckBox::clicked, this, [&shared](bool enabled) {
        UiTask::start(&shared, [&shared, enabled] { return shared.setRouteClaudeLinks(enabled); });
    });
    connect(m_turnOnAgain, &QPushButton::clicked, this,
        [&shared] { UiTask::start(&shared, [&shared] { return shared.setRouteClaudeLinks(true); }); });
    connect(m_shortcut, &QKeySequenceEdit::editingFinished, this, &SettingsView::chooseShortcut);
    // The field empties itself for a moment when it starts recording too: only a clear that lasts means none.
    connect(m_shortcut, &QKeySequenceEdit::keySequenceChanged, this, [this](const QKeySequence& keys) {
        if (keys.isEmpty())
            QTimer::singleShot(0, this, [this] {
                if (m_shortcut->keySequence().isEmpty() && !m_model.switcherShortcut().keys.empty())
                    chooseShortcut();
            });
    });
    connect(&m_model, &AppModel::changed, this, &SettingsView::render);
    renderShortcut(); // sized with its texts from the start
    render();
}

// One combination, the first of what was typed; Backspace or Delete alone, as in the desktops' own shortcut
// settings, means none.
void SettingsView::chooseShortcut()
{
    QKeySequence typed = m_shortcut->keySequence();
    if (!typed.isEmpty() &&
        (typed[0] == QKeyCombination(Qt::Key_Backspace) || typed[0] == QKeyCombination(Qt::Key_Delete)))
        typed = QKeySequence();
    m_refusedShortcut.clear();
    if (!typed.isEmpty() && !canBeGlobal(typed[0])) {
        m_refusedShortcut = "“" + QKeySequence(typed[0]).toString(QKeySequence::NativeText) +
            "” would stop working for typing in other apps. Choose a combination with Ctrl, Alt or Super.";
    } else {
        const std::string keys =
            typed.isEmpty() ? std::string() : QKeySequence(typed[0]).toString(QKeySequence::PortableText).toStdString();
        const AppModel::SwitcherShortcut& current = m_model.switcherShortcut();
        if (keys != current.keys || current.state == AppModel::SwitcherShortcut::State::Failed)
            m_model.setSwitcherShortcut(keys);
    }
    const QSignalBlocker quiet(m_shortcut);
    m_shortcut->setKeySequence(
        QKeySequence::fromString(QString::fromStdString(m_model.switcherShortcut().keys), QKeySequence::PortableText));
    render();
}

void SettingsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    render();
}

void SettingsView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close(); // as a desktop's settings dialog closes
        return;
    }
    QWidget::keyPressEvent(event);
}

void SettingsView::renderShortcut()
{
    using State = AppModel::SwitcherShortcut::State;
    const AppModel::SwitcherShortcut& shortcut = m_model.switcherShortcut();
    if (!m_shortcut->hasFocus()) {
        const QSignalBlocker quiet(m_shortcut);
        m_shortcut->setKeySequence(
            QKeySequence::fromString(QString::fromStdString(shortcut.keys), QKeySequence::PortableText));
    }
    const bool available = shortcut.state != State::Unavailable;
    m_shortcut->setEnabled(available);
    const QString problem = !m_refusedShortcut.isEmpty() ? m_refusedShortcut
        : shortcut.state == State::Failed ? "Couldn’t use this shortcut: " + QString::fromStdString(shortcut.failure)
                                          : QString();
    m_shortcutProblem->setText(problem);
    m_shortcutProblem->setVisible(!problem.isEmpty());
    m_shortcutFooter->setText(available
            ? "Opens a small window for switching profiles from the keyboard, in any app. Backspace in the field "
              "sets none."
            : "This desktop offers no global shortcuts. To open the profile switcher with keys, add a shortcut that "
              "runs “korvel switcher” in the desktop’s keyboard settings.");
}

void SettingsView::render()
{
    if (!isVisible())
        return; // asking the desktop who handles links is not free; a hidden window needn't know
    m_launchAtLogin->setChecked(m_model.launchAtLogin());
    m_autoUpdate->setChecked(m_model.autoUpdateProfileApps());
    m_mcpServers->setChecked(m_model.bringMcpServers());
    for (int index = 0; index < 3; ++index)
        if (taskBarChoices[index] == m_model.taskBarIdentity())
            m_ownTaskBarIcons->setCurrentIndex(index);
    const bool routing = m_model.routeClaudeLinks();
    const bool active = routing && m_model.isLinkRoutingActive();
    m_routeLinks->setChecked(active);
    m_takenBack->setVisible(routing && !active);
    renderShortcut();
    m_appsDir->setText(PathText::abbreviatingWithTilde(m_model.paths().appsDir));
    m_supportDir->setText(PathText::abbreviatingWithTilde(m_model.paths().supportDir));
    const auto version = m_model.builder().sourceVersion();
    m_claudeVersion->setText(version ? QString::fromStdString("Version " + *version) : "Not installed");
    // A text that appeared (the shortcut's problem) must not push the last rows out of the window.
    if (const int needed = heightForWidth(width()); needed > height())
        resize(width(), needed);
}

} // namespace korvel
