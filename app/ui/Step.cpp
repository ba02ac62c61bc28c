#include "app/ui/Step.hpp"

#include "app/ui/TextStyle.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace korvel {
namespace {

class NumberDisc : public QWidget
{
public:
    NumberDisc(int number, QWidget* parent)
        : QWidget(parent)
        , m_number(QString::number(number))
    {
        setFixedSize(20, 20);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(TextStyle::orange());
        painter.drawEllipse(QRectF(rect()));
        painter.setPen(Qt::white);
        painter.setFont(TextStyle::font(TextStyle::Font::CaptionBold));
        painter.drawText(rect(), Qt::AlignCenter, m_number);
    }

private:
    QString m_number;
};

} // namespace

Step::Step(int number, const QString& text, QWidget* parent)
    : QWidget(parent)
    , m_number(number)
    , m_text(new QLabel(text, this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(new NumberDisc(number, this), 0, Qt::AlignTop);
    m_text->setWordWrap(true);
    m_text->setTextFormat(Qt::PlainText);
    layout->addWidget(m_text, 1);
    setAccessibleName(QString::number(number) + ". " + text);
}

QString Step::text() const
{
    return m_text->text();
}

} // namespace korvel
