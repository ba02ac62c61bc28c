#include "app/ui/TextStyle.hpp"

#include <QApplication>
#include <QLabel>
#include <QPalette>
#include <QVBoxLayout>
#include <QWidget>

namespace korvel {
namespace {

QFont scaled(double factor, QFont::Weight weight)
{
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    else
        font.setPixelSize(static_cast<int>(font.pixelSize() * factor));
    font.setWeight(weight);
    return font;
}

} // namespace

QFont TextStyle::font(Font style)
{
    switch (style) {
    case Font::Title2:
        return scaled(1.4, QFont::DemiBold);
    case Font::Title3:
        return scaled(1.2, QFont::Normal);
    case Font::Headline:
        return scaled(1.0, QFont::Bold);
    case Font::Callout:
        return scaled(0.95, QFont::Normal);
    case Font::Caption:
        return scaled(0.85, QFont::Normal);
    case Font::CaptionBold:
        return scaled(0.85, QFont::Bold);
    case Font::Body:
        break;
    }
    return QApplication::font();
}

QColor TextStyle::secondary(const QPalette& palette)
{
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.55);
    return color;
}

QColor TextStyle::accent(const QPalette& palette)
{
    return palette.color(QPalette::Highlight);
}

QColor TextStyle::orange()
{
    return QColor(232, 124, 22);
}

QColor TextStyle::green()
{
    return QColor(52, 199, 89);
}

void TextStyle::apply(QWidget* widget, Font style, bool secondaryColor)
{
    widget->setFont(font(style));
    if (secondaryColor)
        setTextColor(widget, secondary(widget->palette()));
}

void TextStyle::setTextColor(QWidget* widget, const QColor& color)
{
    // Active and inactive only: a disabled widget keeps the desktop's disabled look.
    QPalette palette = widget->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
            palette.setColor(group, role, color);
    }
    widget->setPalette(palette);
}

QVBoxLayout* TextStyle::heading(const QString& title, const QString& subtitle, QWidget* parent)
{
    auto* layout = new QVBoxLayout;
    layout->setSpacing(2);
    auto* titleLabel = new QLabel(title, parent);
    apply(titleLabel, Font::Title2);
    layout->addWidget(titleLabel);
    auto* subtitleLabel = new QLabel(subtitle, parent);
    apply(subtitleLabel, Font::Body, true);
    layout->addWidget(subtitleLabel);
    return layout;
}

} // namespace korvel
