#include "app/ui/ProfileBadge.hpp"

#include "app/ui/BadgePixmap.hpp"

#include <QPainter>

namespace korvel {

ProfileBadge::ProfileBadge(std::string letter, ProfileColor color, int size, QWidget* parent)
    : QWidget(parent)
    , m_letter(std::move(letter))
    , m_color(color)
    , m_size(size)
{
    setFixedSize(size, size);
    name();
}

void ProfileBadge::name()
{
    setAccessibleName(QString::fromStdString(m_letter + " badge, " + m_color.displayName()));
}

void ProfileBadge::setBadge(std::string letter, ProfileColor color)
{
    if (letter == m_letter && color == m_color)
        return;
    m_letter = std::move(letter);
    m_color = color;
    m_pixmap = {};
    name();
    update();
}

void ProfileBadge::paintEvent(QPaintEvent*)
{
    const double scale = devicePixelRatioF();
    if (m_pixmap.isNull() || m_pixmap.devicePixelRatio() != scale)
        m_pixmap = BadgePixmap::render(m_letter, m_color, m_size, scale);
    QPainter painter(this);
    painter.drawPixmap(QPointF(0, 0), m_pixmap);
}

} // namespace korvel
