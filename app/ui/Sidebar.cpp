#include "app/ui/Sidebar.hpp"

#include "app/model/AppModel.hpp"
#include "app/ui/SidebarRow.hpp"
#include "app/ui/Symbol.hpp"
#include "app/ui/TextStyle.hpp"
#include "app/ui/UiTask.hpp"

#include <QDropEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QTimer>
#include <QVBoxLayout>

#include <functional>

namespace korvel {
namespace {

constexpr int idRole = Qt::UserRole;

// A list whose drops of its own rows only report where they landed; the model moves the profiles and the
// sidebar re-renders.
class ProfileList : public QListWidget
{
public:
    std::function<void(QPoint)> dropped;

    explicit ProfileList(QWidget* parent)
        : QListWidget(parent)
    { }

protected:
    void dropEvent(QDropEvent* event) override
    {
        if (event->source() != this) {
            event->ignore();
            return;
        }
        // Copy, not move: a move would make the view remove the dragged rows itself.
        event->setDropAction(Qt::CopyAction);
        event->accept();
        const QPoint position = event->position().toPoint();
        QTimer::singleShot(0, this, [this, position] {
            if (dropped)
                dropped(position);
        });
    }
};

} // namespace

Sidebar::Sidebar(AppModel& model, Platform platform, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_platform(platform)
    , m_list(new ProfileList(this))
    , m_warning(new QLabel(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 8, 0, 0);
    layout->setSpacing(4);

    auto* header = new QLabel("Profiles", this);
    TextStyle::apply(header, TextStyle::Font::CaptionBold, true);
    header->setContentsMargins(10, 0, 0, 0);
    layout->addWidget(header);

    m_list->setAccessibleName("Profiles");
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setDragDropMode(QAbstractItemView::InternalMove);
    m_list->setDefaultDropAction(Qt::MoveAction);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    static_cast<ProfileList*>(m_list)->dropped = [this](QPoint position) { dropRows(position); };
    connect(m_list, &QListWidget::itemSelectionChanged, this, &Sidebar::selectionEdited);
    connect(m_list, &QWidget::customContextMenuRequested, this, &Sidebar::showContextMenu);
    layout->addWidget(m_list, 1);

    // The warning's own row, below the list, so that it stays in view while the list scrolls.
    const QColor orange = TextStyle::orange();
    m_warningRow = new QWidget(this);
    QWidget* warningRow = m_warningRow;
    auto* warningLayout = new QHBoxLayout(warningRow);
    warningLayout->setContentsMargins(10, 10, 10, 10);
    warningLayout->setSpacing(6);
    auto* icon = new QLabel(warningRow);
    const QFont caption = TextStyle::font(TextStyle::Font::Caption);
    icon->setPixmap(Symbol::pixmap(
        Symbol::Name::ExclamationTriangleFill, orange, QFontMetricsF(caption).height(), devicePixelRatioF()));
    warningLayout->addWidget(icon, 0, Qt::AlignTop);
    m_warning->setText("Claude Desktop isn’t installed in /Applications.");
    m_warning->setWordWrap(true);
    m_warning->setFont(caption);
    TextStyle::setTextColor(m_warning, orange);
    warningLayout->addWidget(m_warning, 1);
    layout->addWidget(warningRow);

    render();
}

SidebarRow* Sidebar::row(int index) const
{
    QListWidgetItem* item = m_list->item(index);
    return item ? static_cast<SidebarRow*>(m_list->itemWidget(item)) : nullptr;
}

void Sidebar::render()
{
    m_rendering = true;
    std::vector<Uuid> ids;
    for (const Profile& profile : m_model.profiles())
        ids.push_back(profile.id);
    if (ids != m_ids) {
        m_ids = std::move(ids);
        rebuildRows();
    }
    for (int index = 0; index < m_list->count(); ++index) {
        const Profile& profile = m_model.profiles()[static_cast<size_t>(index)];
        SidebarRow* rowWidget = row(index);
        rowWidget->render(m_model, profile);
        m_list->item(index)->setData(Qt::AccessibleTextRole, rowWidget->accessibleText());
    }
    const auto selected = std::find(m_ids.begin(), m_ids.end(), m_model.selection().value_or(Uuid())) - m_ids.begin();
    if (m_model.selection() && static_cast<size_t>(selected) < m_ids.size())
        m_list->setCurrentRow(static_cast<int>(selected));
    else
        m_list->clearSelection();
    m_warningRow->setVisible(!m_model.builder().sourceVersion());
    m_rendering = false;
}

bool Sidebar::showsMissingClaudeWarning() const
{
    return !m_warningRow->isHidden();
}

void Sidebar::rebuildRows()
{
    m_list->clear();
    for (const Profile& profile : m_model.profiles()) {
        auto* item = new QListWidgetItem(m_list);
        item->setData(idRole, QString::fromStdString(profile.id.toString()));
        auto* rowWidget = new SidebarRow(profile);
        item->setSizeHint(rowWidget->sizeHint());
        m_list->setItemWidget(item, rowWidget);
    }
}

void Sidebar::selectionEdited()
{
    if (m_rendering)
        return;
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty()) {
        m_model.setSelection(std::nullopt);
        return;
    }
    const int index = m_list->row(selected.front());
    m_model.setSelection(m_ids.at(static_cast<size_t>(index)));
}

void Sidebar::moveRows(const std::set<size_t>& from, size_t to)
{
    m_model.moveProfiles(from, to);
}

void Sidebar::dropRows(const QPoint& position)
{
    std::set<size_t> from;
    for (const QListWidgetItem* item : m_list->selectedItems())
        from.insert(static_cast<size_t>(m_list->row(item)));
    if (from.empty() && m_list->currentRow() >= 0)
        from.insert(static_cast<size_t>(m_list->currentRow()));
    if (from.empty())
        return;
    // Onto the upper half of a row: before it; onto the lower half: after it; below the rows: at the end.
    const QModelIndex target = m_list->indexAt(position);
    size_t to = static_cast<size_t>(m_list->count());
    if (target.isValid())
        to = static_cast<size_t>(target.row()) + (position.y() > m_list->visualRect(target).center().y() ? 1 : 0);
    moveRows(from, to);
}

QMenu* Sidebar::makeContextMenu(const Profile& profile, QWidget* parent)
{
    auto* menu = new QMenu(parent);
    AppModel& model = m_model;
    const bool running = model.running().contains(profile.id);
    menu->addAction(running ? "Switch To" : "Open", this,
        [&model, profile] { UiTask::start(&model, [&model, profile] { return model.open(profile); }); });
    if (running) {
        menu->addAction("Quit", this, [&model, profile] {
            if (const auto application = model.runningApp(profile))
                application->terminate();
        });
    }
    menu->addSeparator();
    FileViewer& fileViewer = m_platform.fileViewer;
    menu->addAction("Show App in Finder", this,
        [&model, &fileViewer, profile] { fileViewer.reveal(model.paths().appURL(profile)); });
    menu->addAction("Open Claude Code in Terminal", this, [&model, profile] { model.openClaudeCode(profile); });
    return menu;
}

void Sidebar::showContextMenu(const QPoint& position)
{
    const QListWidgetItem* item = m_list->itemAt(position);
    if (!item)
        return;
    const auto profile = m_model.profile(m_ids.at(static_cast<size_t>(m_list->row(item))));
    if (!profile)
        return;
    QMenu* menu = makeContextMenu(*profile, this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_list->viewport()->mapToGlobal(position));
}

} // namespace korvel
