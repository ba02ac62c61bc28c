#include "app/ui/DialogWindow.hpp"

#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>

#include <algorithm>

namespace korvel {

void DialogWindow::prepare(QDialog& dialog, Close close)
{
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (close == Close::Offered)
        flags |= Qt::WindowCloseButtonHint;
    dialog.setWindowFlags(flags);
    dialog.setWindowModality(Qt::WindowModal);
}

void DialogWindow::prepareAlert(QMessageBox& alert)
{
    prepare(alert);
    alert.setWindowTitle("Korvel");
}

void DialogWindow::fitInformativeText(QMessageBox& alert)
{
    constexpr int readingWidth = 420;
    if (auto* label = alert.findChild<QLabel*>("qt_msgbox_informativelabel")) {
        const int textWidth = label->fontMetrics().horizontalAdvance(label->text()) + 2;
        label->setMinimumWidth(std::min(textWidth, readingWidth));
    }
}

void DialogWindow::keepOnScreen(QWidget& dialog)
{
    QScreen* screen = dialog.screen();
    if (!screen)
        return;
    const QRect free = screen->availableGeometry();
    const QRect frame = dialog.frameGeometry();
    if (free.contains(frame))
        return;
    const int x = std::clamp(frame.left(), free.left(), std::max(free.left(), free.right() - frame.width() + 1));
    const int y = std::clamp(frame.top(), free.top(), std::max(free.top(), free.bottom() - frame.height() + 1));
    dialog.move(x, y);
}

} // namespace korvel
