#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// An sRGB image with 8 bits per channel and premultiplied alpha. Pixels are stored the way cairo's
// CAIRO_FORMAT_ARGB32 and Qt's QImage::Format_ARGB32_Premultiplied lay them out: one native-endian
// 32-bit word 0xAARRGGBB per pixel, rows from the top, width × 4 bytes per row, no padding.
class Bitmap
{
public:
    // Straight (not premultiplied) components of one pixel.
    struct Rgba
    {
        std::uint8_t red = 0;
        std::uint8_t green = 0;
        std::uint8_t blue = 0;
        std::uint8_t alpha = 0;
        friend bool operator==(const Rgba&, const Rgba&) = default;
    };

    // Larger sides are refused: icons never need them, and a hostile file must not make us allocate gigabytes.
    static constexpr int maxSide = 8192;

    Bitmap() = default;
    // A fully transparent image; an empty one when a side is not in 1…maxSide.
    Bitmap(int width, int height);

    int width() const { return m_width; }
    int height() const { return m_height; }
    bool isEmpty() const { return m_pixels.empty(); }
    int bytesPerLine() const { return m_width * 4; }

    // width × height words, see the class comment for the layout.
    std::uint32_t* pixels() { return m_pixels.data(); }
    const std::uint32_t* pixels() const { return m_pixels.data(); }

    // Straight RGBA of the pixel in column x, row y counted from the top. Throws std::out_of_range outside.
    Rgba pixel(int x, int y) const;

    // PNG (8-bit RGBA, straight alpha). Nothing for an empty image or when encoding fails.
    std::optional<std::string> encodePng() const;
    struct Sides
    {
        int width = 0;
        int height = 0;
    };
    // The sides a PNG declares in its header chunk, which it must begin with; nothing when the bytes do not begin
    // like a PNG or a side is not in 1…maxSide. Decoding allocates for them: ask before.
    static std::optional<Sides> pngSides(std::string_view bytes);
    // Any PNG that libpng reads; nothing for malformed data or a side over maxSide.
    static std::optional<Bitmap> decodePng(std::string_view bytes);
    // An SVG document drawn to fill `side` × `side` pixels (librsvg); nothing for malformed data.
    static std::optional<Bitmap> decodeSvg(std::string_view bytes, int side);

    friend bool operator==(const Bitmap&, const Bitmap&) = default;

private:
    int m_width = 0;
    int m_height = 0;
    std::vector<std::uint32_t> m_pixels;
};

} // namespace korvel
