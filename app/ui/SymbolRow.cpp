#include "app/ui/SymbolRow.hpp"

#include <QHBoxLayout>
#include <QLabel>

namespace korvel {

QWidget* SymbolRow::make(
    Symbol::Name symbol, const QString& text, TextStyle::Font font, Tint tint, int spacing, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    const QFont qFont = TextStyle::font(font);
    auto* icon = new QLabel(row);
    layout->addWidget(icon, 0, Qt::AlignTop);
    auto* label = new QLabel(text, row);
    label->setObjectName("text");
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setFont(qFont);
    layout->addWidget(label, 1);
    TextStyle::followPalette(row, [=](const QPalette& palette) {
        const QColor color = tint(palette);
        icon->setPixmap(Symbol::pixmap(symbol, color, QFontMetricsF(qFont).height(), row->devicePixelRatioF()));
        TextStyle::setTextColor(label, color);
    });
    row->setAccessibleName(text);
    return row;
}

QLabel* SymbolRow::text(const QWidget& row)
{
    return row.findChild<QLabel*>("text");
}

SymbolRow::Tint SymbolRow::fixed(QColor color)
{
    return [color](const QPalette&) { return color; };
}

} // namespace korvel
