#include "app/ui/Sidebar.hpp"

#include "app/model/AppModel.hpp"
#include "app/ui/SidebarRow.hpp"
#include "app/ui/Symbol.hpp"
#include "app/ui/TextStyle.hpp"
#include "app/ui/UiTask.hpp"
#include "core/building/Wording.hpp"

#include <QDrag>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QVBoxLayout>

#include <functional>

namespace korvel {
namespace {

constexpr int idRole = Qt::UserRole;
constexpr const char* rowMimeType = "application/x-korvel-profile-id";

// A list whose rows are dragged by our own code: Qt's drag of an item view removes the dragged rows itself after a
// move, under the row widgets the sidebar still renders. A drop only reports which profile landed in which gap; the
// model moves it and the sidebar re-renders. While a drag hovers, a line shows the gap.
class ProfileList : public QListWidget
{
public:
    std::function<void(const QString& id, size_t gap)> dropped;

    explicit ProfileList(QWidget* parent)
        : QListWidget(parent)
        , m_indicator(new QWidget(viewport()))
    {
        m_indicator->setAutoFillBackground(true);
        m_indicator->setBackgroundRole(QPalette::Highlight);
        m_indicator->hide();
        setDragEnabled(true);
        setAcceptDrops(true);
        setDropIndicatorShown(false); // ours is drawn above the row widgets
    }

    QWidget* indicator() const { return m_indicator; }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        m_pressed = event->position().toPoint();
        QListWidget::mousePressEvent(event);
    }

    void startDrag(Qt::DropActions) override
    {
        // The row under the press, whatever the selection says by now.
        QListWidgetItem* dragged = itemAt(m_pressed);
        if (!dragged)
            return;
        auto* mime = new QMimeData;
        mime->setData(rowMimeType, dragged->data(idRole).toString().toUtf8());
        auto* drag = new QDrag(this);
        drag->setMimeData(mime);
        if (QWidget* rowWidget = itemWidget(dragged)) {
            drag->setPixmap(rowWidget->grab());
            drag->setHotSpot(m_pressed - visualItemRect(dragged).topLeft());
        }
        drag->exec(Qt::MoveAction);
        m_indicator->hide();
    }

    void dragEnterEvent(QDragEnterEvent* event) override
    {
        if (!accepts(event))
            return event->ignore();
        event->acceptProposedAction();
        showGap(gapAt(event->position().toPoint()));
    }

    void dragMoveEvent(QDragMoveEvent* event) override
    {
        QListWidget::dragMoveEvent(event); // scrolls near the edges
        if (!accepts(event))
            return event->ignore();
        event->setDropAction(Qt::MoveAction);
        event->accept();
        showGap(gapAt(event->position().toPoint()));
    }

    void dragLeaveEvent(QDragLeaveEvent* event) override
    {
        QListWidget::dragLeaveEvent(event);
        m_indicator->hide();
    }

    void dropEvent(QDropEvent* event) override
    {
        m_indicator->hide();
        if (!accepts(event))
            return event->ignore();
        event->setDropAction(Qt::MoveAction);
        event->accept();
        const QString id = QString::fromUtf8(event->mimeData()->data(rowMimeType));
        const size_t gap = gapAt(event->position().toPoint());
        // After the drag has ended: moving re-creates the rows, the dragged one among them.
        QTimer::singleShot(0, this, [this, id, gap] {
            if (dropped)
                dropped(id, gap);
        });
    }

private:
    bool accepts(const QDropEvent* event) const
    {
        return event->source() == this && event->mimeData()->hasFormat(rowMimeType);
    }

    // Onto the upper half of a row: before it; onto the lower half: after it; below the rows: at the end.
    size_t gapAt(const QPoint& position) const
    {
        const QModelIndex target = indexAt(position);
        if (!target.isValid())
            return static_cast<size_t>(count());
        return static_cast<size_t>(target.row()) + (position.y() > visualRect(target).center().y() ? 1 : 0);
    }

    void showGap(size_t gap)
    {
        if (count() == 0)
            return;
        const int index = static_cast<int>(gap);
        const int y = index < count() ? visualItemRect(item(index)).top() : visualItemRect(item(count() - 1)).bottom();
        m_indicator->setGeometry(6, y - 1, viewport()->width() - 12, 3);
        m_indicator->raise();
        m_indicator->show();
    }

    QWidget* m_indicator;
    QPoint m_pressed;
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
    // A selection that its text reads on at 4.5:1, whatever blue the desktop picked.
    TextStyle::useReadableHighlight(m_list);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* profileList = static_cast<ProfileList*>(m_list);
    m_dropIndicator = profileList->indicator();
    profileList->dropped = [this](const QString& id, size_t gap) { dropRow(id, gap); };
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
    for (int index = 0; index < m_list->count(); ++index)
        row(index)->setSelected(m_list->item(index)->isSelected());
    m_warningRow->setVisible(!m_model.builder().sourceVersion());
    if (!m_warningRow->isHidden())
        m_warning->setText(QString::fromStdString(Wording::text(Wording::Text::ClaudeMissingWarning)));
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

void Sidebar::dropRow(const QString& id, size_t gap)
{
    const auto dragged = std::find(m_ids.begin(), m_ids.end(), Uuid::parse(id.toStdString()).value_or(Uuid()));
    if (dragged != m_ids.end())
        moveRows({static_cast<size_t>(dragged - m_ids.begin())}, gap);
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
    menu->addAction(QString::fromStdString(Wording::text(Wording::Text::ShowAppInFileViewer)), this,
        [&model, profile] { model.revealApp(profile); });
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
