#pragma once

#include <QObject>

namespace korvel {

// A ring inside every push button, check box, list and shortcut field that has the keyboard focus. Some desktop
// styles (Fusion among them) draw none on a default button or a list and only a faint one on others, so a keyboard user
// loses track of where Return, Space and the arrow keys go.
class FocusRing : public QObject
{
    Q_OBJECT

public:
    // Watches the whole application; once is enough, later calls do nothing.
    static void install();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    using QObject::QObject;
};

} // namespace korvel
