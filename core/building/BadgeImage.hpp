#pragma once

#include "core/building/Bitmap.hpp"
#include "core/model/ProfileColor.hpp"

#include <string>

namespace korvel {

// The bare profile badge for menus and the menu bar: a disc in the profile's colour with the white letter,
// no ring. It keeps the recipe and draws it at whatever resolution the display needs.
struct BadgeImage
{
    std::string letter;
    Rgb color;
    double size = 0; // side of the square image, in points

    // The badge as a square of round(size × scale) pixels, at least one; empty when size or scale is not
    // a positive number.
    Bitmap render(double scale) const;

    friend bool operator==(const BadgeImage&, const BadgeImage&) = default;
};

} // namespace korvel
