#pragma once

#include "core/model/ProfileColor.hpp"

#include <QWidget>

#include <vector>

class QAbstractButton;

namespace korvel {

// A row of one round swatch per profile colour. The chosen one carries a check mark and a ring; every swatch is
// a button named after its colour. The enclosing screen owns the colour: it sets it with setSelection and hears
// of the user's choice through selectionChanged.
class ColorPalette : public QWidget
{
    Q_OBJECT

public:
    static constexpr int swatchSize = 22;
    static constexpr int spacing = 8;
    static constexpr int ringGap = 3; // between the swatch and its ring
    static constexpr int ringWidth = 2;

    explicit ColorPalette(ProfileColor selection = ProfileColor::Blue, QWidget* parent = nullptr);

    ProfileColor selection() const { return m_selection; }
    // Changes the chosen colour without announcing it.
    void setSelection(ProfileColor color);

    // The swatch of `color`, for tests and focus handling.
    QAbstractButton* swatch(ProfileColor color) const;

signals:
    // The user chose `color` (also when it was already chosen).
    void selectionChanged(ProfileColor color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ProfileColor m_selection;
    std::vector<QAbstractButton*> m_swatches; // in ProfileColor::allCases() order
};

} // namespace korvel
