#pragma once

#include <QFrame>
#include <QString>
#include <QWidget>

class QLabel;
class QLayout;
class QVBoxLayout;

namespace korvel {

// One section of a grouped form: an optional header above a rounded box of rows, and an optional footer below.
class FormSection : public QWidget
{
    Q_OBJECT

public:
    explicit FormSection(const QString& header = {}, QWidget* parent = nullptr);

    // A row holding `content` across the whole width.
    QWidget* addRow(QWidget* content);
    QWidget* addRow(QLayout* content);
    // A row with `label` on the left and `field` on the right; the label names the field for accessibility.
    QWidget* addRow(const QString& label, QWidget* field);
    // A secondary-coloured text below the box.
    QLabel* setFooter(const QString& text);

    QLabel* header() const { return m_header; }

private:
    QWidget* append(QWidget* row);

    QLabel* m_header = nullptr;
    QLabel* m_footer = nullptr;
    QFrame* m_box;
    QVBoxLayout* m_rows;
};

} // namespace korvel
