#pragma once

#include <QColor>
#include <QFont>

class QPalette;
class QVBoxLayout;
class QWidget;

namespace korvel {

// The few text styles and colours the screens use, derived from the desktop's own font and palette so that they
// follow the user's settings.
namespace TextStyle {

enum class Font { Body, Title2, Title3, Headline, Callout, Caption, CaptionBold };

QFont font(Font style);
// Secondary text: the window text colour, lighter.
QColor secondary(const QPalette& palette);
// The accent colour (the palette's highlight).
QColor accent(const QPalette& palette);
QColor orange();
QColor green();

// Sets the font of `widget`, and its text colour to the secondary colour when `secondaryColor` is set.
void apply(QWidget* widget, Font style, bool secondaryColor = false);
// Sets the colour of `widget`'s text.
void setTextColor(QWidget* widget, const QColor& color);
// A screen's heading: its title over a secondary subtitle.
QVBoxLayout* heading(const QString& title, const QString& subtitle, QWidget* parent);

} // namespace TextStyle
} // namespace korvel
