#pragma once

#include <QLabel>

namespace korvel {

// A one-line label that never asks for more room than it is given: a text too long for its width ends in "…" (or
// loses its middle, for paths), and the whole text is its tool tip then.
class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr, Qt::TextElideMode mode = Qt::ElideRight);

    void setFullText(const QString& text);
    // The text as set, however much of it shows.
    const QString& fullText() const { return m_fullText; }
    bool isElided() const { return text() != m_fullText; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void elide();

    QString m_fullText;
    Qt::TextElideMode m_mode;
};

} // namespace korvel
