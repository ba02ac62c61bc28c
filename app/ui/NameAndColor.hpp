#pragma once

#include "core/model/ProfileColor.hpp"

#include <QWidget>

class QLineEdit;

namespace korvel {

class ColorPalette;
class ProfileBadge;

// A badge preview, a "Profile name" field and the colour palette in one row. The badge shows the letter of the
// name, or of the placeholder while the name is empty, in the chosen colour.
class NameAndColor : public QWidget
{
    Q_OBJECT

public:
    NameAndColor(const QString& placeholder, ProfileColor color, QWidget* parent = nullptr);

    QString name() const;
    ProfileColor color() const;

    QLineEdit* nameField() const { return m_name; }
    ColorPalette* palette() const { return m_palette; }
    ProfileBadge* badge() const { return m_badge; }

signals:
    void edited();

private:
    void updateBadge();

    QString m_placeholder;
    ProfileBadge* m_badge;
    QLineEdit* m_name;
    ColorPalette* m_palette;
};

} // namespace korvel
