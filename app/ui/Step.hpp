#pragma once

#include <QWidget>

class QLabel;

namespace korvel {

// A numbered line of the welcome: the number in a small orange circle, then the text, wrapping as needed.
class Step : public QWidget
{
    Q_OBJECT

public:
    Step(int number, const QString& text, QWidget* parent = nullptr);

    int number() const { return m_number; }
    QString text() const;

private:
    int m_number;
    QLabel* m_text;
};

} // namespace korvel
