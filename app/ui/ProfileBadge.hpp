#pragma once

#include "core/model/ProfileColor.hpp"

#include <QPixmap>
#include <QWidget>

#include <string>

namespace korvel {

// The round badge of a profile: its colour with its letter in white, `size` × `size`. Assistive technology reads
// it as an image named by its letter and colour ("W badge, Blue").
class ProfileBadge : public QWidget
{
    Q_OBJECT

public:
    ProfileBadge(std::string letter, ProfileColor color, int size, QWidget* parent = nullptr);

    const std::string& letter() const { return m_letter; }
    ProfileColor color() const { return m_color; }
    int badgeSize() const { return m_size; }
    void setBadge(std::string letter, ProfileColor color);

    QSize sizeHint() const override { return {m_size, m_size}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void name();

    std::string m_letter;
    ProfileColor m_color;
    int m_size;
    QPixmap m_pixmap; // drawn for the scale it was last shown at
};

} // namespace korvel
