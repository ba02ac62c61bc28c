#include "app/ui/SheetHeight.hpp"

#include <QLayout>
#include <QWidget>

#include <algorithm>

namespace korvel {

void SheetHeight::fit(QWidget& sheet)
{
    QLayout* layout = sheet.layout();
    if (!layout)
        return;
    // Rows shown or hidden since the last fit only tell their parents' layouts by a posted event; forget every
    // cached size now, so that a row that went away gives its room back at once.
    for (QWidget* child : sheet.findChildren<QWidget*>()) {
        if (child->layout())
            child->layout()->invalidate();
    }
    layout->invalidate();
    layout->activate();
    sheet.setFixedHeight(std::max(layout->minimumSize().height(), layout->totalHeightForWidth(sheet.width())));
}

} // namespace korvel
