#include "app/ui/SidebarRow.hpp"

#include "app/model/AppModel.hpp"
#include "app/ui/BusyIndicator.hpp"
#include "app/ui/ElidedLabel.hpp"
#include "app/ui/ProfileBadge.hpp"
#include "app/ui/StatusDot.hpp"
#include "app/ui/TextStyle.hpp"

#include <QApplication>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace korvel {

std::string SidebarRow::subtitle(const AppModel& model, const Profile& profile)
{
    if (const auto busy = model.busy().find(profile.id); busy != model.busy().end())
        return busy->second;
    if (model.running().contains(profile.id))
        return model.activeProfileID() == profile.id ? "Active" : "Running";
    switch (model.status(profile).kind()) {
    case CloneStatus::Kind::Ready:
        return "Not running";
    case CloneStatus::Kind::Outdated:
        return "Update ready";
    case CloneStatus::Kind::SourceMissing:
        return "Claude not installed";
    case CloneStatus::Kind::Damaged:
    case CloneStatus::Kind::NotBuilt:
        break;
    }
    return "Needs setup";
}

SidebarRow::SidebarRow(const Profile& profile, QWidget* parent)
    : QWidget(parent)
    , m_badge(new ProfileBadge(profile.letter(), profile.color, 26, this))
    , m_name(new ElidedLabel(this))
    , m_subtitle(new ElidedLabel(this))
    , m_spinner(new BusyIndicator(12, this))
    , m_dot(new StatusDot(false, this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 3, 8, 3);
    layout->setSpacing(10);
    layout->addWidget(m_badge);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    QFont nameFont = font();
    nameFont.setWeight(QFont::Medium);
    m_name->setFont(nameFont);
    TextStyle::apply(m_subtitle, TextStyle::Font::Caption);
    TextStyle::followPalette(this, [this](const QPalette&) { setSelected(m_selected); });
    for (ElidedLabel* label : {m_name, m_subtitle}) {
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred); // one line, ending in "…" when cut
        texts->addWidget(label);
    }
    layout->addLayout(texts, 1);
    layout->addSpacing(4);
    layout->addWidget(m_spinner);
    layout->addWidget(m_dot);
    m_spinner->hide();
}

void SidebarRow::render(const AppModel& model, const Profile& profile)
{
    m_badge->setBadge(profile.letter(), profile.color);
    m_name->setFullText(QString::fromStdString(profile.name));
    m_subtitle->setFullText(QString::fromStdString(subtitle(model, profile)));
    // The subtitle lines up with the name, on the right for an Arabic or Hebrew one.
    // Absolute: a label would mirror a plain side for right-to-left text of its own.
    const Qt::Alignment side =
        Qt::AlignAbsolute | (m_name->fullText().isRightToLeft() ? Qt::AlignRight : Qt::AlignLeft);
    for (ElidedLabel* label : {m_name, m_subtitle})
        label->setAlignment(side | Qt::AlignVCenter);
    const bool busy = model.busy().contains(profile.id);
    m_spinner->setVisible(busy);
    m_dot->setVisible(!busy);
    m_dot->setRunning(model.running().contains(profile.id));
    setAccessibleName(accessibleText());
}

void SidebarRow::setSelected(bool selected)
{
    m_selected = selected;
    const QPalette palette = QApplication::palette(this);
    TextStyle::setTextColor(
        m_name, selected ? palette.color(QPalette::HighlightedText) : palette.color(QPalette::WindowText));
    TextStyle::setTextColor(
        m_subtitle, selected ? palette.color(QPalette::HighlightedText) : TextStyle::secondary(palette));
}

QString SidebarRow::name() const
{
    return m_name->fullText();
}

QString SidebarRow::subtitleText() const
{
    return m_subtitle->fullText();
}

bool SidebarRow::showsSpinner() const
{
    return !m_spinner->isHidden();
}

QString SidebarRow::accessibleText() const
{
    return m_name->fullText() + ", " + m_subtitle->fullText();
}

} // namespace korvel
