#pragma once

#include <QTimer>
#include <QWidget>

namespace korvel {

// A small indeterminate progress spinner; it turns only while it is visible.
class BusyIndicator : public QWidget
{
    Q_OBJECT

public:
    explicit BusyIndicator(int size = 14, QWidget* parent = nullptr);

    QSize sizeHint() const override { return {m_size, m_size}; }
    bool isSpinning() const { return m_timer.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int m_size;
    int m_step = 0;
    QTimer m_timer;
};

} // namespace korvel
