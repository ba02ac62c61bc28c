#include "app/ui/AccessibleRoles.hpp"

#include <QAccessibleWidget>
#include <QWidget>

namespace korvel {
namespace {

QAccessibleInterface* roleOf(const QString& className, QObject* object)
{
    if (className == "korvel::ProfileBadge" || className == "korvel::StatusDot")
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Graphic);
    return nullptr;
}

} // namespace

void AccessibleRoles::install()
{
    static bool installed = false;
    if (!installed)
        QAccessible::installFactory(roleOf);
    installed = true;
}

} // namespace korvel
