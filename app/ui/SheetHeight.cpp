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
    layout->activate();
    sheet.setFixedHeight(std::max(layout->minimumSize().height(), layout->totalHeightForWidth(sheet.width())));
}

} // namespace korvel
