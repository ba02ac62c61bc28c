#include "core/building/BadgeImage.hpp"

#include "core/building/CairoCanvas.hpp"

#include <algorithm>
#include <cmath>

namespace korvel {

Bitmap BadgeImage::render(double scale) const
{
    const double pixels = size * scale;
    if (!(size > 0 && scale > 0 && pixels <= Bitmap::maxSide))
        return {};
    const int side = std::max(1, static_cast<int>(std::lround(pixels)));
    // Scaled so that the badge fills the bitmap even where the pixel count was rounded.
    CairoCanvas canvas(side, side, side / size);
    const CairoCanvas::Rect disc = CairoCanvas::Rect {0, 0, size, size}.inset(0.5);
    canvas.fillEllipse(disc, color);
    canvas.drawLetter(letter, disc);
    return canvas.finish().value_or(Bitmap());
}

} // namespace korvel
