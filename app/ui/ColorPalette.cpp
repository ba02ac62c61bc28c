#include "app/ui/ColorPalette.hpp"

#include "app/ui/Symbol.hpp"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QPainter>

namespace korvel {
namespace {

QColor qColor(ProfileColor color)
{
    const Rgb rgb = color.rgb();
    return QColor::fromRgbF(static_cast<float>(rgb.red), static_cast<float>(rgb.green), static_cast<float>(rgb.blue));
}

// One colour: a filled circle, with a white check mark while it is the chosen one.
class Swatch : public QAbstractButton
{
public:
    Swatch(ProfileColor color, QWidget* parent)
        : QAbstractButton(parent)
        , m_color(color)
    {
        const QString name = QString::fromStdString(color.displayName());
        setToolTip(name);
        setAccessibleName(name);
        setCheckable(true);
        setAutoExclusive(false);
        setFixedSize(ColorPalette::swatchSize, ColorPalette::swatchSize);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(qColor(m_color));
        painter.drawEllipse(QRectF(rect()));
        if (isChecked()) {
            const double mark = 12; // the check mark of a 10-point heavy symbol
            const QPointF corner((width() - mark) / 2, (height() - mark) / 2);
            painter.drawPixmap(corner, Symbol::pixmap(Symbol::Name::Checkmark, Qt::white, mark, devicePixelRatioF()));
        }
        if (hasFocus()) {
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
            painter.drawEllipse(QRectF(rect()).adjusted(1, 1, -1, -1));
        }
    }

private:
    ProfileColor m_color;
};

} // namespace

ColorPalette::ColorPalette(ProfileColor selection, QWidget* parent)
    : QWidget(parent)
    , m_selection(selection)
{
    auto* layout = new QHBoxLayout(this);
    const int margin = ringGap + ringWidth; // room for the ring around the outer swatches
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(spacing);
    for (const ProfileColor color : ProfileColor::allCases()) {
        auto* swatch = new Swatch(color, this);
        swatch->setChecked(color == m_selection);
        connect(swatch, &QAbstractButton::clicked, this, [this, color] {
            setSelection(color);
            emit selectionChanged(color);
        });
        layout->addWidget(swatch);
        m_swatches.push_back(swatch);
    }
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void ColorPalette::setSelection(ProfileColor color)
{
    m_selection = color;
    for (size_t i = 0; i < m_swatches.size(); ++i)
        m_swatches[i]->setChecked(ProfileColor::allCases()[i] == color);
    update();
}

QAbstractButton* ColorPalette::swatch(ProfileColor color) const
{
    return m_swatches[static_cast<size_t>(color.value())];
}

void ColorPalette::paintEvent(QPaintEvent*)
{
    const QAbstractButton* chosen = swatch(m_selection);
    QColor ringColor = palette().color(QPalette::WindowText);
    ringColor.setAlphaF(0.35);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(ringColor, ringWidth));
    painter.setBrush(Qt::NoBrush);
    const double outset = ringGap + ringWidth / 2.0;
    painter.drawEllipse(QRectF(chosen->geometry()).adjusted(-outset, -outset, outset, outset));
}

} // namespace korvel
