#include "app/ui/BusyIndicator.hpp"

#include "app/ui/TextStyle.hpp"

#include <QPainter>

namespace korvel {
namespace {

constexpr int spokes = 8;

} // namespace

BusyIndicator::BusyIndicator(int size, QWidget* parent)
    : QWidget(parent)
    , m_size(size)
{
    setFixedSize(size, size);
    setAccessibleName("In progress");
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % spokes;
        update();
    });
}

void BusyIndicator::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_timer.start();
}

void BusyIndicator::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_timer.stop();
}

void BusyIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    const double radius = m_size / 2.0;
    QColor color = palette().color(QPalette::WindowText);
    for (int i = 0; i < spokes; ++i) {
        // The spoke at m_step is darkest; the others fade behind it.
        const int age = (m_step - i + spokes) % spokes;
        color.setAlphaF(1.0 - 0.8 * age / spokes);
        painter.setPen(QPen(color, std::max(1.5, m_size / 8.0), Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius * 0.9));
        painter.rotate(360.0 / spokes);
    }
}

} // namespace korvel
