#pragma once

#include <QColor>
#include <QFont>

#include <functional>

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

// `color`, darker or lighter where needed, so that it stands out from `against` at `ratio`:1 (WCAG contrast).
QColor standingOut(QColor color, const QColor& against, double ratio);
// The palette's highlight, darkened where needed so that its highlighted text reads at 4.5:1 on it.
QColor readableHighlight(const QPalette& palette);
// Gives the item view `view` readableHighlight as its selection colour, following the desktop's palette.
void useReadableHighlight(QWidget* view);
// The colour of a keyboard focus ring: the highlight, at 3.5:1 against the window (3:1 on a card over it).
QColor focusRing(const QPalette& palette);

// Calls `restyle` with the desktop's palette for `widget` now and again whenever the desktop's palette changes
// (a switch between light and dark while Korvel runs), for colours a widget was given rather than inherits.
void followPalette(QWidget* widget, std::function<void(const QPalette&)> restyle);

// Sets the font of `widget`, and its text colour to the secondary colour (following the palette) when
// `secondaryColor` is set.
void apply(QWidget* widget, Font style, bool secondaryColor = false);
// Sets the colour of `widget`'s text.
void setTextColor(QWidget* widget, const QColor& color);
// A screen's heading: its title over a secondary subtitle.
QVBoxLayout* heading(const QString& title, const QString& subtitle, QWidget* parent);

} // namespace TextStyle
} // namespace korvel
