#pragma once

class QWidget;

namespace korvel {

// Sheets have a fixed width and wrapped texts, whose height depends on that width.
namespace SheetHeight {

// Makes `sheet` exactly as tall as its layout needs at its current width.
void fit(QWidget& sheet);

} // namespace SheetHeight
} // namespace korvel
