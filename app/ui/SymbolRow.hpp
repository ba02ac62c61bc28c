#pragma once

#include "app/ui/Symbol.hpp"
#include "app/ui/TextStyle.hpp"

#include <QColor>
#include <QString>

#include <functional>

class QLabel;
class QPalette;
class QWidget;

namespace korvel {

// A symbol in front of text that wraps, the way notices and tips look. `tint` gives the colour of both for the
// desktop's palette, again after each change of it. The text's label is named "text".
namespace SymbolRow {

using Tint = std::function<QColor(const QPalette&)>;

QWidget* make(Symbol::Name symbol, const QString& text, TextStyle::Font font, Tint tint, int spacing, QWidget* parent);
// The row's text label.
QLabel* text(const QWidget& row);
// A tint that is `color` on every palette.
Tint fixed(QColor color);

} // namespace SymbolRow
} // namespace korvel
