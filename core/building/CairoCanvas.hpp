#pragma once

// Internal to KorvelCore (it exposes cairo); callers outside core/building use Bitmap.

#include "core/building/Bitmap.hpp"
#include "core/model/ProfileColor.hpp"

#include <cairo.h>

#include <optional>
#include <string_view>

namespace korvel {

// Draws into a Bitmap with cairo. Coordinates are in units of `scale` pixels with the origin at the
// lower left and y upwards, the way the icon geometry is given; cairo's y-down space stays inside.
class CairoCanvas
{
public:
    struct Rect
    {
        double x = 0; // left
        double y = 0; // bottom
        double width = 0;
        double height = 0;
        Rect inset(double by) const { return {x + by, y + by, width - 2 * by, height - 2 * by}; }
    };

    // A transparent canvas of width × height pixels.
    CairoCanvas(int width, int height, double scale = 1);
    ~CairoCanvas();
    CairoCanvas(const CairoCanvas&) = delete;
    CairoCanvas& operator=(const CairoCanvas&) = delete;

    // False when the bitmap could not be made or cairo failed (for example on text that is not UTF-8).
    bool isValid() const;

    // Stretches the image over the rectangle, smoothly (area-averaged when reducing); its edges are not faded.
    void drawImage(const Bitmap& image, const Rect& rect);
    void fillEllipse(const Rect& rect, Rgb color);
    // A vertical gradient from `top` to `bottom`.
    void fillRoundedRect(const Rect& rect, double radius, Rgb top, Rgb bottom);
    // The badge letter: bold DejaVu Sans (for a letter it lacks, the font fontconfig falls back to) at 0.6 × the
    // disc's height, white, on one line centred horizontally
    // by its advance; the line box (ascent + descent) is centred on the disc's centre, then lowered by
    // a tenth of the descent.
    void drawLetter(std::string_view letter, const Rect& disc);

    // Ends drawing and hands over the pixels; nothing when the canvas is not valid.
    std::optional<Bitmap> finish();

private:
    // The top edge of the rectangle in cairo's y-down space.
    double top(const Rect& rect) const { return m_heightInUnits - rect.y - rect.height; }

    Bitmap m_bitmap;
    double m_heightInUnits = 0;
    double m_scale = 1;
    cairo_surface_t* m_surface = nullptr;
    cairo_t* m_cairo = nullptr;
};

} // namespace korvel
