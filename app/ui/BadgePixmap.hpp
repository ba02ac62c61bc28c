#pragma once

#include "core/building/Bitmap.hpp"
#include "core/model/ProfileColor.hpp"

#include <QImage>
#include <QPixmap>

#include <string_view>

namespace korvel {

// Profile badges as Qt images, drawn by the core's icon renderer so that menus, windows and profile apps agree.
namespace BadgePixmap {

// The badge of `points` × `points`, drawn at `scale` device pixels per point (the pixmap carries that ratio).
QPixmap render(std::string_view letter, ProfileColor color, double points, double scale);

// A copy of a core bitmap; both lay out pixels as premultiplied native-endian 0xAARRGGBB words.
QImage image(const Bitmap& bitmap);

} // namespace BadgePixmap
} // namespace korvel
