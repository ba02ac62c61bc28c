#pragma once

#include <QFrame>

#include <optional>

class QLabel;
class QVBoxLayout;

namespace korvel {

// A selectable card with a radio mark, a title, an optional badge and a detail text. Its own controls (the
// content) show only while it is selected. A click anywhere on the card selects it.
class OptionCard : public QFrame
{
    Q_OBJECT

public:
    OptionCard(const QString& title, std::optional<QString> badge, const QString& detail, QWidget* content,
        QWidget* parent = nullptr);

    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);
    void setDetail(const QString& detail);

    QString title() const;
    QString detail() const;
    std::optional<QString> badge() const;
    QWidget* content() const { return m_content; }

signals:
    // The user clicked the card.
    void selectRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void drawMark();

    bool m_selected = false;
    QLabel* m_mark;
    QLabel* m_title;
    QLabel* m_badge = nullptr;
    QLabel* m_detail;
    QWidget* m_content;
};

} // namespace korvel
