#include "app/ui/FocusRing.hpp"

#include "app/ui/TextStyle.hpp"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QFocusEvent>
#include <QKeySequenceEdit>
#include <QPainter>
#include <QPushButton>

namespace korvel {
namespace {

constexpr const char* ringName = "korvelFocusRing";

// Drawn over the button, letting every click through.
class Ring : public QWidget
{
public:
    explicit Ring(QWidget* owner)
        : QWidget(owner)
    {
        setObjectName(ringName);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(TextStyle::focusRing(parentWidget()->palette()), 2));
        painter.setBrush(Qt::NoBrush);
        const double inset = qobject_cast<QPushButton*>(parentWidget()) ? 3 : 1;
        painter.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), 3, 3);
    }
};

} // namespace

void FocusRing::install()
{
    static FocusRing* watcher = nullptr;
    if (watcher)
        return;
    watcher = new FocusRing(qApp);
    qApp->installEventFilter(watcher);
}

bool FocusRing::eventFilter(QObject* watched, QEvent* event)
{
    const bool in = event->type() == QEvent::FocusIn;
    if (!in && event->type() != QEvent::FocusOut && event->type() != QEvent::Resize)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    const auto* push = qobject_cast<QPushButton*>(watched);
    const bool ringed = (push && !push->isFlat()) || qobject_cast<QCheckBox*>(watched) ||
        qobject_cast<QAbstractItemView*>(watched) || qobject_cast<QKeySequenceEdit*>(watched);
    if (!ringed)
        return false;
    auto* ring = widget->findChild<QWidget*>(ringName, Qt::FindDirectChildrenOnly);
    if (event->type() == QEvent::Resize) {
        if (ring)
            ring->setGeometry(widget->rect());
        return false;
    }
    // Shown for the keyboard's way there only, as desktops do: a click needs no ring.
    const bool keyboard = in &&
        (static_cast<QFocusEvent*>(event)->reason() == Qt::TabFocusReason ||
            static_cast<QFocusEvent*>(event)->reason() == Qt::BacktabFocusReason ||
            static_cast<QFocusEvent*>(event)->reason() == Qt::ShortcutFocusReason ||
            widget->window()->testAttribute(Qt::WA_KeyboardFocusChange));
    if (keyboard && !ring)
        ring = new Ring(widget);
    if (ring) {
        ring->setGeometry(widget->rect());
        ring->setVisible(keyboard);
        ring->raise();
    }
    return false;
}

} // namespace korvel
