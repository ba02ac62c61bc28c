#pragma once

#include "core/model/ProfileColor.hpp"

#include <QWidget>

#include <vector>

class QAbstractButton;

namespace korvel {

// A row of one round swatch per profile colour. The chosen one carries a check mark and a ring, and a second
// ring while it has the focus; every swatch is a radio button named after its colour, and the row one Tab stop
// whose arrow keys move the choice. The enclosing screen owns the colour: it sets it with setSelection and hears
// of the user's choice through selectionChanged.
class ColorPalette : public QWidget
{
    Q_OBJECT

public:
    static constexpr int swatchSize = 22;
    static constexpr int spacing = 8;
    static constexpr int ringGap = 3; // between the swatch and its ring
    static constexpr int ringWidth = 2;
    static constexpr int focusGap = 1; // between the selection ring and the focus ring
    static constexpr int focusWidth = 2;

    explicit ColorPalette(ProfileColor selection = ProfileColor::Blue, QWidget* parent = nullptr);

    ProfileColor selection() const { return m_selection; }
    // Changes the chosen colour without announcing it.
    void setSelection(ProfileColor color);

    // The swatch of `color`, for tests and focus handling.
    QAbstractButton* swatch(ProfileColor color) const;
    // Chooses the colour `step` places on (wrapping around), as an arrow key does, and announces it.
    void chooseNeighbour(int step);

signals:
    // The user chose `color` (also when it was already chosen).
    void selectionChanged(ProfileColor color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool hasFocusedSwatch() const;

    ProfileColor m_selection;
    std::vector<QAbstractButton*> m_swatches; // in ProfileColor::allCases() order
};

} // namespace korvel
