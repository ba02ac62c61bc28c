#include "app/ui/StatusDot.hpp"

#include "app/ui/TextStyle.hpp"

#include <QPainter>

namespace korvel {

StatusDot::StatusDot(bool running, QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(7, 7);
    m_running = !running; // so that setRunning names it
    setRunning(running);
}

void StatusDot::setRunning(bool running)
{
    if (running == m_running)
        return;
    m_running = running;
    setAccessibleName(running ? "Running" : "Not running");
    update();
}

void StatusDot::paintEvent(QPaintEvent*)
{
    QColor color = TextStyle::green();
    if (!m_running) {
        color = TextStyle::secondary(palette());
        color.setAlphaF(color.alphaF() * 0.35);
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(rect()));
}

} // namespace korvel
