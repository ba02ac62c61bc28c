#pragma once

#include <QWidget>

namespace korvel {

// A 7 × 7 dot: green while the profile's app runs, a faint grey otherwise. Named "Running" or "Not running"
// for accessibility.
class StatusDot : public QWidget
{
    Q_OBJECT

public:
    explicit StatusDot(bool running = false, QWidget* parent = nullptr);

    bool running() const { return m_running; }
    void setRunning(bool running);

    QSize sizeHint() const override { return {7, 7}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_running = false;
};

} // namespace korvel
