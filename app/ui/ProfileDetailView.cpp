#include "app/ui/ProfileDetailView.hpp"

#include "app/ui/BusyIndicator.hpp"
#include "app/ui/ColorPalette.hpp"
#include "app/ui/DialogWindow.hpp"
#include "app/ui/ElidedLabel.hpp"
#include "app/ui/FormSection.hpp"
#include "app/ui/PathText.hpp"
#include "app/ui/ProfileBadge.hpp"
#include "app/ui/StatusDot.hpp"
#include "app/ui/Symbol.hpp"
#include "app/ui/SymbolRow.hpp"
#include "app/ui/TextStyle.hpp"
#include "app/ui/UiTask.hpp"
#include "core/building/Wording.hpp"
#include "core/support/FolderSize.hpp"
#include "core/support/UnicodeText.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace korvel {
namespace {

QString qText(const std::string& text)
{
    return QString::fromStdString(text);
}

QLabel* plainLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// A button that looks like a link and shows a long path cut in the middle.
class PathLinkButton : public QPushButton
{
public:
    explicit PathLinkButton(QWidget* parent)
        : QPushButton(parent)
    {
        setFlat(true);
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    void setPath(const QString& path)
    {
        m_path = path;
        setToolTip(path);
        setAccessibleName(path);
        elide();
    }
    const QString& path() const { return m_path; }

    QSize sizeHint() const override { return {minimumWidth(), QPushButton::sizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        // A link: the text alone, right-aligned, in the link colour; no button face.
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::Link));
        painter.setFont(font());
        painter.drawText(rect(), Qt::AlignRight | Qt::AlignVCenter, text());
        if (hasFocus()) {
            painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
            painter.drawRect(rect().adjusted(0, 0, -1, -1));
        }
    }

    void resizeEvent(QResizeEvent* event) override
    {
        QPushButton::resizeEvent(event);
        elide();
    }

private:
    void elide() { setText(fontMetrics().elidedText(m_path, Qt::ElideMiddle, std::max(40, width() - 4))); }

    QString m_path;
};

QPushButton* prominent(QPushButton* button)
{
    button->setDefault(true);
    button->setAutoDefault(false);
    return button;
}

// The delete confirmation names how much local data the profile holds once the walk of its folder is done; the
// dialog is shown and answered meanwhile.
QCoro::Task<> showDataSize(QPointer<AppModel> model, QPointer<QMessageBox> box, Profile profile, std::string text)
{
    if (!model)
        co_return;
    auto measuring = model->dataSize(profile);
    const std::uintmax_t size = co_await measuring;
    if (!box)
        co_return;
    // The number and its unit on one line.
    const QString amount = qText(FolderSize::text(size)).replace(' ', QChar(0x00A0));
    box->setInformativeText(qText(text + " Its data folder holds ") + amount + " of local data.");
    DialogWindow::fitInformativeText(*box);
}

} // namespace

std::string ProfileDetailView::pendingTitle(const AppModel::PendingImport& pending)
{
    std::vector<std::string> parts;
    if (pending.sessions > 0)
        parts.push_back(std::to_string(pending.sessions) + " session" + (pending.sessions == 1 ? "" : "s"));
    if (pending.pins > 0)
        parts.push_back(std::to_string(pending.pins) + " pin" + (pending.pins == 1 ? "" : "s"));
    if (pending.mcpServers > 0)
        parts.push_back(std::to_string(pending.mcpServers) + " MCP server" + (pending.mcpServers == 1 ? "" : "s"));
    std::string title;
    for (size_t i = 0; i < parts.size(); ++i)
        title += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
    return title + " ready";
}

ProfileDetailView::ProfileDetailView(AppModel& model, Platform platform, const Uuid& id, QWidget* parent)
    : QScrollArea(parent)
    , m_model(model)
    , m_platform(platform)
    , m_id(id)
    , m_shown(model.profile(id).value_or(Profile {id, {}, ProfileColor::Blue, {}}))
{
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::NoFocus); // Tab goes to the form's controls, not to the pane that holds them
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A column of a reading width, centred in a wide window.
    auto* content = new QWidget(this);
    auto* centring = new QHBoxLayout(content);
    centring->setContentsMargins(0, 0, 0, 0);
    auto* column = new QWidget(content);
    column->setMaximumWidth(maximumContentWidth);
    column->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    centring->addStretch(1);
    centring->addWidget(column, 1000); // all the room up to its maximum, the rest on either side
    centring->addStretch(1);
    m_column = column;
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(18);
    layout->addWidget(makeHeader());
    layout->addWidget(makeProfileSection());
    layout->addWidget(makePendingSection());
    layout->addWidget(makeAppSection());
    layout->addWidget(makeClaudeCodeSection());
    layout->addWidget(makeDeleteSection());
    layout->addStretch(1);
    setWidget(content);

    // The edit state starts from the stored profile, showing a long name from its start.
    m_nameField->setText(qText(m_shown.name));
    m_nameField->setCursorPosition(0);
    m_palette->setSelection(m_shown.color);
    render();
}

QWidget* ProfileDetailView::makeHeader()
{
    auto* header = new FormSection({}, this);
    auto* row = new QHBoxLayout;
    row->setSpacing(16);
    row->setContentsMargins(0, 4, 0, 4);
    m_badge = new ProfileBadge(m_shown.letter(), m_shown.color, 56, this);
    row->addWidget(m_badge);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    m_appName = new ElidedLabel(this);
    TextStyle::apply(m_appName, TextStyle::Font::Title2);
    texts->addWidget(m_appName);
    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(6);
    m_dot = new StatusDot(false, this);
    statusRow->addWidget(m_dot);
    m_statusText = plainLabel({}, this);
    TextStyle::apply(m_statusText, TextStyle::Font::Callout, true);
    statusRow->addWidget(m_statusText);
    statusRow->addStretch(1);
    texts->addLayout(statusRow);
    row->addLayout(texts, 1);

    m_spinner = new BusyIndicator(14, this);
    row->addWidget(m_spinner);
    m_busyText = new ElidedLabel(this);
    TextStyle::apply(m_busyText, TextStyle::Font::Body, true);
    row->addWidget(m_busyText);
    m_quit = new QPushButton("Quit", this);
    m_quit->setAutoDefault(false);
    connect(m_quit, &QPushButton::clicked, this, &ProfileDetailView::quitApp);
    row->addWidget(m_quit);
    m_open = prominent(new QPushButton("Open", this));
    connect(m_open, &QPushButton::clicked, this, [this] { start([](AppModel& m, Profile p) { return m.open(p); }); });
    row->addWidget(m_open);
    header->addRow(row);
    return header;
}

FormSection* ProfileDetailView::makeProfileSection()
{
    auto* section = new FormSection("Profile", this);
    m_nameField = new QLineEdit(this);
    m_nameField->setMinimumWidth(220);
    connect(m_nameField, &QLineEdit::returnPressed, this, &ProfileDetailView::commitName);
    connect(m_nameField, &QLineEdit::textChanged, this, &ProfileDetailView::updateBadge);
    section->addRow("Name", m_nameField);
    m_palette = new ColorPalette(m_shown.color, this);
    connect(m_palette, &ColorPalette::selectionChanged, this, &ProfileDetailView::colorChosen);
    section->addRow("Color", m_palette);
    m_renameNotice =
        SymbolRow::make(Symbol::Name::InfoCircle, "The new name and color apply after you quit this profile’s app.",
            TextStyle::Font::Callout, TextStyle::secondary, 6, this);
    section->addRow(m_renameNotice);
    return section;
}

FormSection* ProfileDetailView::makePendingSection()
{
    m_pending = new FormSection({}, this);
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    row->setContentsMargins(0, 4, 0, 4);
    auto* icon = new QLabel(this);
    const QFont title2 = TextStyle::font(TextStyle::Font::Title2);
    icon->setPixmap(Symbol::pixmap(Symbol::Name::TrayArrowDownFill, TextStyle::accent(palette()),
        QFontMetricsF(title2).height(), devicePixelRatioF()));
    row->addWidget(icon);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    m_pendingTitle = plainLabel({}, this);
    QFont semibold = font();
    semibold.setWeight(QFont::DemiBold);
    m_pendingTitle->setFont(semibold);
    texts->addWidget(m_pendingTitle);
    m_pendingText = plainLabel({}, this);
    m_pendingText->setWordWrap(true);
    TextStyle::apply(m_pendingText, TextStyle::Font::Callout, true);
    texts->addWidget(m_pendingText);
    row->addLayout(texts, 1);
    m_restart = prominent(new QPushButton("Restart Now", this));
    connect(
        m_restart, &QPushButton::clicked, this, [this] { start([](AppModel& m, Profile p) { return m.restart(p); }); });
    row->addWidget(m_restart);
    m_pending->addRow(row);
    return m_pending;
}

FormSection* ProfileDetailView::makeAppSection()
{
    auto* section = new FormSection("App", this);
    m_summary = new ElidedLabel(this);
    m_summary->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_summary->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    TextStyle::apply(m_summary, TextStyle::Font::Body, true);
    section->addRow("Status", m_summary);
    auto* location = new PathLinkButton(this);
    m_location = location;
    m_location->setMinimumWidth(200);
    connect(m_location, &QPushButton::clicked, this, [this] {
        if (const auto profile = m_model.profile(m_id))
            m_model.revealApp(*profile);
    });
    section->addRow("Location", m_location);
    auto* buttons = new QHBoxLayout;
    m_showData = new QPushButton("Show Data Folder", this);
    connect(m_showData, &QPushButton::clicked, this, [this] {
        if (const auto profile = m_model.profile(m_id))
            m_model.revealData(*profile);
    });
    m_rebuild = new QPushButton("Rebuild App", this);
    m_rebuild->setToolTip("Recreate this profile’s app from the installed Claude. Your login and chats are kept.");
    connect(
        m_rebuild, &QPushButton::clicked, this, [this] { start([](AppModel& m, Profile p) { return m.rebuild(p); }); });
    for (QPushButton* button : {m_showData, m_rebuild}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    section->addRow(buttons);
    return section;
}

FormSection* ProfileDetailView::makeClaudeCodeSection()
{
    auto* section = new FormSection("Claude Code", this);
    auto* buttons = new QHBoxLayout;
    m_terminal = new QPushButton("Open in Terminal", this);
    connect(m_terminal, &QPushButton::clicked, this, [this] {
        if (const auto profile = m_model.profile(m_id))
            m_model.openClaudeCode(*profile);
    });
    m_copyExport = new QPushButton("Copy Export Command", this);
    connect(m_copyExport, &QPushButton::clicked, this, [this] {
        if (const auto profile = m_model.profile(m_id)) {
            m_model.copyClaudeCodeExport(*profile);
            confirmCopied();
        }
    });
    for (QPushButton* button : {m_terminal, m_copyExport}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    section->addRow(buttons);
    auto* text = plainLabel("Runs `claude` with its own CLAUDE_CONFIG_DIR, so this profile’s Claude Code login is "
                            "kept separate as well.",
        this);
    text->setWordWrap(true);
    TextStyle::apply(text, TextStyle::Font::Body, true);
    section->addRow(text);
    return section;
}

FormSection* ProfileDetailView::makeDeleteSection()
{
    auto* section = new FormSection({}, this);
    m_delete = new QPushButton("Delete Profile…", this);
    m_delete->setAutoDefault(false);
    TextStyle::setTextColor(m_delete, QColor(215, 58, 50));
    connect(m_delete, &QPushButton::clicked, this, &ProfileDetailView::confirmDelete);
    auto* row = new QHBoxLayout;
    row->addWidget(m_delete);
    row->addStretch(1);
    section->addRow(row);
    return section;
}

void ProfileDetailView::render()
{
    const auto stored = m_model.profile(m_id);
    if (!stored)
        return; // deleted: the window replaces this view
    m_shown = *stored;
    const Profile& profile = m_shown;
    const auto busy = m_model.busy().find(m_id);
    const bool isBusy = busy != m_model.busy().end();
    const bool running = m_model.running().contains(m_id);
    const bool claudeInstalled = m_model.builder().sourceVersion().has_value();
    const CloneStatus status = m_model.status(profile);

    m_appName->setFullText(qText(profile.appDisplayName()));
    m_dot->setRunning(running);
    m_statusText->setText(!running              ? "Not running"
            : m_model.activeProfileID() == m_id ? "Running · Active"
                                                : "Running");

    m_spinner->setVisible(isBusy);
    m_busyText->setVisible(isBusy);
    if (isBusy)
        m_busyText->setFullText(qText(busy->second));
    m_quit->setVisible(!isBusy && running);
    m_open->setVisible(!isBusy);
    if (running) {
        m_open->setText(m_model.running().size() >= 2 ? "Switch To" : "Open");
        m_open->setToolTip(qText("Bring " + profile.appDisplayName() + "’s window to the front"));
        m_open->setEnabled(true);
    } else {
        m_open->setText("Open");
        m_open->setToolTip({});
        m_open->setEnabled(claudeInstalled);
    }

    m_renameNotice->setVisible(running && status.needsBuild());

    const auto pending = m_model.pendingAfterRestart().find(m_id);
    const bool showPending = running && pending != m_model.pendingAfterRestart().end();
    m_pending->setVisible(showPending);
    if (showPending) {
        m_pendingTitle->setText(qText(pendingTitle(pending->second)));
        m_pendingText->setText(
            qText("Brought over from your main Claude app. Restart " + profile.appDisplayName() + " to see them."));
    }

    m_summary->setFullText(qText(status.summary()));
    static_cast<PathLinkButton*>(m_location)->setPath(PathText::abbreviatingWithTilde(m_model.appLocation(profile)));
    m_rebuild->setEnabled(!running && !isBusy && claudeInstalled);
    m_delete->setEnabled(!isBusy);
    updateBadge();
}

void ProfileDetailView::confirmCopied()
{
    // "Copied" with a check mark for a moment, in the button's own width so that nothing beside it moves.
    m_copyExport->setMinimumWidth(m_copyExport->width());
    m_copyExport->setText("Copied");
    m_copyExport->setIcon(Symbol::icon(Symbol::Name::Checkmark, TextStyle::green()));
    QTimer::singleShot(copiedConfirmation, m_copyExport, [button = m_copyExport] {
        button->setText("Copy Export Command");
        button->setIcon({});
    });
}

void ProfileDetailView::updateBadge()
{
    Profile edited = m_shown;
    edited.name = m_nameField->text().toStdString();
    m_badge->setBadge(edited.letter(), m_palette->selection());
}

void ProfileDetailView::colorChosen(ProfileColor color)
{
    updateBadge();
    const auto profile = m_model.profile(m_id);
    if (profile && color != profile->color)
        m_model.update(*profile, std::nullopt, color);
}

void ProfileDetailView::commitName()
{
    const auto profile = m_model.profile(m_id);
    if (!profile)
        return;
    const std::string trimmed = UnicodeText::trimWhiteSpace(m_nameField->text().toStdString());
    if (trimmed.empty()) {
        m_nameField->setText(qText(profile->name));
        return;
    }
    if (trimmed != profile->name)
        m_model.update(*profile, trimmed, std::nullopt);
}

void ProfileDetailView::performDefaultAction()
{
    if (m_open->isVisible() && m_open->isEnabled() && !m_model.running().contains(m_id))
        m_open->click();
}

void ProfileDetailView::showEvent(QShowEvent* event)
{
    QScrollArea::showEvent(event);
    // The name field is not focused on arrival; it takes focus only when the user clicks it.
    QTimer::singleShot(0, this, [this] {
        if (m_nameField->hasFocus())
            m_nameField->clearFocus();
    });
}

template<typename Operation>
void ProfileDetailView::start(Operation operation)
{
    const auto profile = m_model.profile(m_id);
    if (!profile)
        return;
    AppModel& model = m_model;
    UiTask::start(&model, [&model, operation, profile = *profile] { return operation(model, profile); });
}

void ProfileDetailView::quitApp()
{
    if (const auto profile = m_model.profile(m_id)) {
        if (const auto application = m_model.runningApp(*profile))
            application->terminate();
    }
}

void ProfileDetailView::confirmDelete()
{
    const auto profile = m_model.profile(m_id);
    if (!profile || m_confirmDelete)
        return;
    auto* box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    DialogWindow::prepare(*box);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle("Delete Profile");
    box->setText(qText("Delete “" + profile->name + "”?"));
    const std::string text =
        "This removes " + profile->appDisplayName() + ". " + Wording::text(Wording::Text::DeletedDataLeaves);
    box->setInformativeText(qText(text));
    DialogWindow::fitInformativeText(*box);
    UiTask::start(
        box, [model = QPointer<AppModel>(&m_model), box = QPointer<QMessageBox>(box), profile = *profile, text] {
            return showDataSize(model, box, profile, text);
        });
    QPushButton* trash = box->addButton("Delete Profile and Move Data to Trash", QMessageBox::DestructiveRole);
    QPushButton* keep = box->addButton("Delete Profile, Keep Data", QMessageBox::AcceptRole);
    box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(QMessageBox::Cancel);
    connect(box, &QMessageBox::buttonClicked, this, [this, trash, keep](QAbstractButton* clicked) {
        if (clicked != trash && clicked != keep)
            return;
        const bool moveDataToTrash = clicked == trash;
        start([moveDataToTrash](AppModel& m, Profile p) { return m.deleteProfile(p, moveDataToTrash); });
    });
    m_confirmDelete = box;
    box->open();
}

} // namespace korvel
