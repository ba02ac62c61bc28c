#include "app/ui/ColorPalette.hpp"

#include "app/ui/Symbol.hpp"
#include "app/ui/TextStyle.hpp"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>

#include <algorithm>

namespace korvel {
namespace {

QColor qColor(ProfileColor color)
{
    const Rgb rgb = color.rgb();
    return QColor::fromRgbF(static_cast<float>(rgb.red), static_cast<float>(rgb.green), static_cast<float>(rgb.blue));
}

// One colour: a filled circle, with a white check mark while it is the chosen one. The swatches are one radio
// group: only the chosen one takes the focus from Tab, and the arrow keys choose its neighbours.
class Swatch : public QAbstractButton
{
public:
    Swatch(ProfileColor color, ColorPalette* palette)
        : QAbstractButton(palette)
        , m_color(color)
        , m_palette(palette)
    {
        const QString name = QString::fromStdString(color.displayName());
        setToolTip(name);
        setAccessibleName(name);
        setCheckable(true);
        setAutoExclusive(true); // a radio button to assistive technology
        setFixedSize(ColorPalette::swatchSize, ColorPalette::swatchSize);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
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
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        const bool mirrored = layoutDirection() == Qt::RightToLeft;
        switch (event->key()) {
        case Qt::Key_Left:
            return m_palette->chooseNeighbour(mirrored ? 1 : -1);
        case Qt::Key_Right:
            return m_palette->chooseNeighbour(mirrored ? -1 : 1);
        case Qt::Key_Up:
            return m_palette->chooseNeighbour(-1);
        case Qt::Key_Down:
            return m_palette->chooseNeighbour(1);
        default:
            QAbstractButton::keyPressEvent(event);
        }
    }

    // The ring around the chosen swatch is the palette's to draw.
    void focusInEvent(QFocusEvent* event) override
    {
        QAbstractButton::focusInEvent(event);
        m_palette->update();
    }
    void focusOutEvent(QFocusEvent* event) override
    {
        QAbstractButton::focusOutEvent(event);
        m_palette->update();
    }

private:
    ProfileColor m_color;
    ColorPalette* m_palette;
};

} // namespace

ColorPalette::ColorPalette(ProfileColor selection, QWidget* parent)
    : QWidget(parent)
    , m_selection(selection)
{
    auto* layout = new QHBoxLayout(this);
    const int margin = ringGap + ringWidth + focusGap + focusWidth; // room for the rings around the outer swatches
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(spacing);
    for (const ProfileColor color : ProfileColor::allCases()) {
        auto* swatch = new Swatch(color, this);
        connect(swatch, &QAbstractButton::clicked, this, [this, color] {
            setSelection(color);
            emit selectionChanged(color);
        });
        layout->addWidget(swatch);
        m_swatches.push_back(swatch);
    }
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setSelection(selection);
}

void ColorPalette::setSelection(ProfileColor color)
{
    const bool focused = hasFocusedSwatch();
    m_selection = color;
    for (size_t i = 0; i < m_swatches.size(); ++i) {
        const bool chosen = ProfileColor::allCases()[i] == color;
        m_swatches[i]->setChecked(chosen);
        m_swatches[i]->setFocusPolicy(chosen ? Qt::StrongFocus : Qt::NoFocus);
    }
    setFocusProxy(swatch(color)); // a label's buddy and a click on the palette land on the chosen one
    if (focused)
        swatch(color)->setFocus(Qt::OtherFocusReason);
    update();
}

void ColorPalette::chooseNeighbour(int step)
{
    const auto& colors = ProfileColor::allCases();
    const auto count = static_cast<int>(colors.size());
    const int index = (static_cast<int>(m_selection.value()) + step + count) % count;
    setSelection(colors[static_cast<size_t>(index)]);
    emit selectionChanged(m_selection);
}

bool ColorPalette::hasFocusedSwatch() const
{
    return std::any_of(m_swatches.begin(), m_swatches.end(), [](const QAbstractButton* s) { return s->hasFocus(); });
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
    if (hasFocusedSwatch()) {
        // Outside the selection ring, on the window's own background, so that it shows beside every colour.
        const double focusOutset = ringGap + ringWidth + focusGap + focusWidth / 2.0;
        painter.setPen(QPen(TextStyle::focusRing(palette()), focusWidth));
        painter.drawEllipse(QRectF(chosen->geometry()).adjusted(-focusOutset, -focusOutset, focusOutset, focusOutset));
    }
}

} // namespace korvel
