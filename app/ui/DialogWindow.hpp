#pragma once

class QDialog;
class QMessageBox;
class QWidget;

namespace korvel {

// Sheets and alerts as a Linux desktop shows dialogs: modal to the window they belong to, a title bar with no
// minimise or maximise button, placed over their window and inside the screen.
namespace DialogWindow {

enum class Close { Offered, Hidden };

// Window-modal, with a close button only when `close` offers one.
void prepare(QDialog& dialog, Close close = Close::Offered);
// An alert: prepared as above, with the application's name as the window title (the alert's own title is its first
// line already).
void prepareAlert(QMessageBox& alert);
// Gives the alert's informative text a reading width, so that a one-line message stays on one line and a longer one
// wraps at that width rather than at QMessageBox's narrow guess. Again after each change of the text.
void fitInformativeText(QMessageBox& alert);
// Moves `dialog` into the free area of its screen when part of it lies outside.
void keepOnScreen(QWidget& dialog);

} // namespace DialogWindow
} // namespace korvel
