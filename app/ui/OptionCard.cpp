#include "app/ui/OptionCard.hpp"

#include "app/ui/Symbol.hpp"
#include "app/ui/TextStyle.hpp"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace korvel {

OptionCard::OptionCard(
    const QString& title, std::optional<QString> badge, const QString& detail, QWidget* content, QWidget* parent)
    : QFrame(parent)
    , m_mark(new QLabel(this))
    , m_title(new QLabel(title, this))
    , m_detail(new QLabel(detail, this))
    , m_content(content)
{
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(title);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(12);
    layout->addWidget(m_mark, 0, Qt::AlignTop);

    auto* stack = new QVBoxLayout;
    stack->setSpacing(6);
    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    QFont titleFont = font();
    titleFont.setWeight(QFont::DemiBold);
    m_title->setFont(titleFont);
    titleRow->addWidget(m_title);
    if (badge) {
        m_badge = new QLabel(*badge, this);
        m_badge->setFont(TextStyle::font(TextStyle::Font::CaptionBold));
        m_badge->setContentsMargins(6, 2, 6, 2);
        const QColor accent = TextStyle::accent(palette());
        QColor fill = accent;
        fill.setAlphaF(0.15);
        m_badge->setStyleSheet(QString("QLabel { color: %1; background: %2; border-radius: 7px; }")
                                   .arg(accent.name(QColor::HexArgb), fill.name(QColor::HexArgb)));
        titleRow->addWidget(m_badge);
    }
    titleRow->addStretch(1);
    stack->addLayout(titleRow);
    m_detail->setWordWrap(true);
    TextStyle::apply(m_detail, TextStyle::Font::Callout, true);
    stack->addWidget(m_detail);
    if (m_content) {
        m_content->setParent(this);
        m_content->setContentsMargins(0, 4, 0, 0);
        stack->addWidget(m_content);
    }
    layout->addLayout(stack, 1);
    m_selected = true; // so that the first call draws the mark
    setSelected(false);
}

void OptionCard::setSelected(bool selected)
{
    if (selected == m_selected)
        return;
    m_selected = selected;
    drawMark();
    if (m_content)
        m_content->setVisible(selected);
    setAccessibleDescription(selected ? "selected" : QString());
    update();
}

void OptionCard::drawMark()
{
    const bool selected = m_selected;
    const double scale = devicePixelRatioF();
    const QFont radioFont = TextStyle::font(TextStyle::Font::Title3);
    const double side = QFontMetricsF(radioFont).height();
    m_mark->setPixmap(selected
            ? Symbol::pixmap(Symbol::Name::LargeCircleFillCircle, TextStyle::accent(palette()), side, scale)
            : Symbol::pixmap(Symbol::Name::Circle, TextStyle::secondary(palette()), side, scale));
}

void OptionCard::changeEvent(QEvent* event)
{
    QFrame::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        drawMark(); // light and dark switched
}

void OptionCard::setDetail(const QString& detail)
{
    m_detail->setText(detail);
}

QString OptionCard::title() const
{
    return m_title->text();
}

QString OptionCard::detail() const
{
    return m_detail->text();
}

std::optional<QString> OptionCard::badge() const
{
    return m_badge ? std::optional<QString>(m_badge->text()) : std::nullopt;
}

void OptionCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor primary = palette().color(QPalette::WindowText);
    QColor fill = primary;
    fill.setAlphaF(m_selected ? 0.06 : 0.025);
    QColor border = m_selected ? TextStyle::accent(palette()) : primary;
    if (!m_selected)
        border.setAlphaF(0.10);
    const double width = m_selected ? 1.5 : 1.0;
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(width / 2, width / 2, -width / 2, -width / 2), 10, 10);
    painter.fillPath(shape, fill);
    painter.setPen(QPen(border, width));
    painter.drawPath(shape);
    if (hasFocus()) {
        // Inside the border, over the card's own fill, so that it shows on the selected card's accent too.
        constexpr double focusInset = 3.5;
        QPainterPath ring;
        ring.addRoundedRect(QRectF(rect()).adjusted(focusInset, focusInset, -focusInset, -focusInset), 7, 7);
        painter.setPen(QPen(TextStyle::focusRing(palette()), 2));
        painter.drawPath(ring);
    }
}

void OptionCard::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit selectRequested();
    QFrame::mouseReleaseEvent(event);
}

void OptionCard::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space) {
        emit selectRequested();
        return;
    }
    QFrame::keyPressEvent(event);
}

} // namespace korvel
