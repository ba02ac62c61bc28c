#pragma once

#include "core/building/Bitmap.hpp"

#include <algorithm>

namespace korvel::test {

// An image of one colour, given as a premultiplied 0xAARRGGBB word.
inline Bitmap solidBitmap(int width, int height, std::uint32_t argb)
{
    Bitmap image(width, height);
    std::fill(image.pixels(), image.pixels() + image.width() * image.height(), argb);
    return image;
}

} // namespace korvel::test
