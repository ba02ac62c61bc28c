#include "app/ui/NameAndColor.hpp"

#include "app/ui/ColorPalette.hpp"
#include "app/ui/ProfileBadge.hpp"
#include "core/model/Profile.hpp"

#include <QHBoxLayout>
#include <QLineEdit>

namespace korvel {
namespace {

std::string letterOf(const QString& name)
{
    Profile profile;
    profile.name = name.toStdString();
    return profile.letter();
}

} // namespace

NameAndColor::NameAndColor(const QString& placeholder, ProfileColor color, QWidget* parent)
    : QWidget(parent)
    , m_placeholder(placeholder)
    , m_badge(new ProfileBadge(letterOf(placeholder), color, 24, this))
    , m_name(new QLineEdit(this))
    , m_palette(new ColorPalette(color, this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(m_badge);
    m_name->setPlaceholderText(placeholder);
    m_name->setAccessibleName("Profile name");
    m_name->setFixedWidth(150);
    layout->addWidget(m_name);
    layout->addWidget(m_palette);
    layout->addStretch(1);
    connect(m_name, &QLineEdit::textChanged, this, [this] {
        updateBadge();
        emit edited();
    });
    connect(m_palette, &ColorPalette::selectionChanged, this, [this] {
        updateBadge();
        emit edited();
    });
}

QString NameAndColor::name() const
{
    return m_name->text();
}

ProfileColor NameAndColor::color() const
{
    return m_palette->selection();
}

void NameAndColor::updateBadge()
{
    m_badge->setBadge(letterOf(m_name->text().isEmpty() ? m_placeholder : m_name->text()), m_palette->selection());
}

} // namespace korvel
