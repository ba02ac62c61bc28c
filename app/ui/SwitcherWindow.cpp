#include "app/ui/SwitcherWindow.hpp"

#include "app/model/AppModel.hpp"
#include "app/ui/AccessibleRoles.hpp"
#include "app/ui/SidebarRow.hpp"
#include "app/ui/TextStyle.hpp"
#include "app/ui/UiTask.hpp"
#include "core/support/UnicodeText.hpp"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace korvel {

SwitcherWindow::SwitcherWindow(AppModel& model, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_model(model)
    , m_search(new QLineEdit(this))
    , m_list(new QListWidget(this))
    , m_empty(new QLabel(this))
{
    setWindowTitle("Switch Profile");
    m_linger.setSingleShot(true);
    m_linger.setInterval(lingerAfterOpen);
    connect(&m_linger, &QTimer::timeout, this, &QWidget::hide);
    // Another window taking the focus closes it, also when a hide while it had the focus left it no longer the
    // active window by the time it showed again.
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* focus) {
        if (focus && focus != windowHandle() && isVisible())
            hide();
    });
    AccessibleRoles::install();
    setFixedWidth(fixedWidth);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);

    m_search->setPlaceholderText("Find a profile");
    m_search->setAccessibleName("Find a profile");
    m_search->setFont(TextStyle::font(TextStyle::Font::Title3));
    m_search->installEventFilter(this);
    connect(m_search, &QLineEdit::textChanged, this, [this] {
        m_list->setCurrentRow(-1); // a new search chooses its first match
        render();
    });
    layout->addWidget(m_search);

    m_list->setAccessibleName("Profiles");
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setFocusPolicy(Qt::NoFocus); // the keys stay with the search field
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    TextStyle::useReadableHighlight(m_list);
    connect(m_list, &QListWidget::currentRowChanged, this, &SwitcherWindow::showChoice);
    connect(m_list, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) { open(m_list->row(item)); });
    layout->addWidget(m_list);

    m_empty->setAlignment(Qt::AlignCenter);
    m_empty->setWordWrap(true);
    m_empty->setTextFormat(Qt::PlainText);
    m_empty->setContentsMargins(8, 12, 8, 12);
    TextStyle::apply(m_empty, TextStyle::Font::Body, true);
    layout->addWidget(m_empty);

    TextStyle::followPalette(this, [this](const QPalette&) { showChoice(); });
    connect(&m_model, &AppModel::changed, this, [this] {
        if (isVisible())
            render();
    });
}

SidebarRow* SwitcherWindow::row(int index) const
{
    return index >= 0 && static_cast<size_t>(index) < m_rows.size() ? m_rows[static_cast<size_t>(index)] : nullptr;
}

void SwitcherWindow::present()
{
    m_linger.stop();
    m_search->clear();
    render();
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QPoint centre = screen->availableGeometry().center();
    move(centre.x() - width() / 2, centre.y() - height() / 2);
    show();
    raise();
    activateWindow();
    m_search->setFocus();
}

void SwitcherWindow::render()
{
    const std::string query = m_search->text().toStdString();
    std::vector<Profile> shown;
    for (const Profile& profile : m_model.profiles())
        if (UnicodeText::matchesSearch(profile.name, query))
            shown.push_back(profile);
    const int current = m_list->currentRow();
    const std::optional<Uuid> chosen = current >= 0 && static_cast<size_t>(current) < m_ids.size()
        ? std::optional(m_ids[static_cast<size_t>(current)])
        : std::nullopt;
    std::vector<Uuid> ids;
    for (const Profile& profile : shown)
        ids.push_back(profile.id);
    if (ids != m_ids) {
        m_ids = std::move(ids);
        rebuildRows(shown);
    }
    for (size_t index = 0; index < shown.size(); ++index) {
        m_rows[index]->render(m_model, shown[index]);
        m_list->item(static_cast<int>(index))->setData(Qt::AccessibleTextRole, m_rows[index]->accessibleText());
    }
    // The chosen profile stays chosen while the list changes under it; else the first one is.
    const auto kept = std::find(m_ids.begin(), m_ids.end(), chosen.value_or(Uuid()));
    m_list->setCurrentRow(kept != m_ids.end() ? static_cast<int>(kept - m_ids.begin()) : m_ids.empty() ? -1 : 0);
    showChoice();

    const bool none = m_model.profiles().empty();
    m_search->setVisible(!none);
    m_list->setVisible(!m_ids.empty());
    m_empty->setVisible(m_ids.empty());
    m_empty->setText(none ? "No profiles yet.\nCreate one with “New Profile…” in Korvel’s menu."
                          : "No profile matches “" + m_search->text() + "”.");
    fitHeight();
}

void SwitcherWindow::rebuildRows(const std::vector<Profile>& shown)
{
    m_list->clear();
    m_rows.clear();
    m_digits.clear();
    for (size_t index = 0; index < shown.size(); ++index) {
        auto* cell = new QWidget;
        auto* layout = new QHBoxLayout(cell);
        layout->setContentsMargins(0, 0, 12, 0);
        auto* row = new SidebarRow(shown[index], cell);
        layout->addWidget(row, 1);
        // The digit that opens the row, for the first nine.
        auto* digit = new QLabel(index < 9 ? QString::number(index + 1) : QString(), cell);
        digit->setFont(TextStyle::font(TextStyle::Font::Caption));
        layout->addWidget(digit);
        auto* item = new QListWidgetItem(m_list);
        item->setSizeHint(cell->sizeHint());
        m_list->setItemWidget(item, cell);
        m_rows.push_back(row);
        m_digits.push_back(digit);
    }
}

// The chosen row in the selection's colours, its digit too.
void SwitcherWindow::showChoice()
{
    const QPalette palette = QApplication::palette(this);
    for (size_t index = 0; index < m_rows.size(); ++index) {
        const bool chosen = static_cast<int>(index) == m_list->currentRow();
        m_rows[index]->setSelected(chosen);
        TextStyle::setTextColor(
            m_digits[index], chosen ? palette.color(QPalette::HighlightedText) : TextStyle::secondary(palette));
    }
}

void SwitcherWindow::fitHeight()
{
    int rows = 0;
    for (int index = 0; index < std::min(m_list->count(), visibleRows); ++index)
        rows += m_list->sizeHintForRow(index);
    m_list->setFixedHeight(rows + 2 * m_list->frameWidth());
    layout()->activate();
    setFixedHeight(layout()->sizeHint().height());
}

void SwitcherWindow::open(int index)
{
    const auto profile =
        index >= 0 && static_cast<size_t>(index) < m_ids.size() ? m_model.profile(m_ids[index]) : std::nullopt;
    if (!profile)
        return;
    AppModel& model = m_model;
    UiTask::start(&model, [&model, profile = *profile] { return model.open(profile); });
    // Left open until the app takes the focus, which closes it, or for lingerAfterOpen at most: a desktop may let the
    // app come forward at the user's request only while the window that took the user's key still has the focus.
    m_linger.start();
}

bool SwitcherWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && key->key() >= Qt::Key_1 && key->key() <= Qt::Key_9) {
        open(key->key() - Qt::Key_1);
        return true;
    }
    switch (key->key()) {
    case Qt::Key_Down:
    case Qt::Key_Up:
        if (m_list->count() > 0)
            m_list->setCurrentRow(
                std::clamp(m_list->currentRow() + (key->key() == Qt::Key_Down ? 1 : -1), 0, m_list->count() - 1));
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        open(m_list->currentRow());
        return true;
    case Qt::Key_Escape:
        hide();
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

void SwitcherWindow::keyPressEvent(QKeyEvent* event)
{
    // Without profiles there is no search field to hold the focus.
    if (event->key() == Qt::Key_Escape)
        hide();
    else
        QWidget::keyPressEvent(event);
}

void SwitcherWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        hide();
}

// Undecorated, it needs an edge of its own to stand apart from the window behind it.
void SwitcherWindow::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    QColor edge = palette().color(QPalette::WindowText);
    edge.setAlphaF(0.3f);
    painter.setPen(edge);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace korvel
