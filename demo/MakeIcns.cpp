// Draws the stand-in Claude's icon — a terracotta rounded square with a white starburst — and writes it as an
// ICNS file with our own encoder:  korvel-demo-icns <file.icns>  (or a PNG of it: <file.png>)

#include "core/building/Bitmap.hpp"
#include "core/building/IcnsFile.hpp"
#include "core/support/AtomicFile.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string_view>
#include <vector>

namespace {

using korvel::Bitmap;

// Signed distance from (x, y) to a rounded square centred at 0 with half side `half` and corner radius `radius`.
double roundedSquare(double x, double y, double half, double radius)
{
    const double qx = std::abs(x) - half + radius;
    const double qy = std::abs(y) - half + radius;
    return std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) + std::min(std::max(qx, qy), 0.0) - radius;
}

// Distance from (x, y) to the nearest of `rays` segments from the centre outwards to `length`.
double starburst(double x, double y, int rays, double length)
{
    double nearest = 1e9;
    for (int ray = 0; ray < rays; ++ray) {
        const double angle = ray * 2 * std::numbers::pi / rays + 0.2;
        const double dx = std::cos(angle);
        const double dy = std::sin(angle);
        const double along = std::clamp(x * dx + y * dy, 0.0, length);
        nearest = std::min(nearest, std::hypot(x - along * dx, y - along * dy));
    }
    return nearest;
}

double coverage(double distance)
{
    return std::clamp(0.5 - distance, 0.0, 1.0);
}

Bitmap icon(int side)
{
    Bitmap bitmap(side, side);
    const double unit = side / 1024.0;
    for (int row = 0; row < side; ++row) {
        for (int column = 0; column < side; ++column) {
            const double x = (column + 0.5) / unit - 512;
            const double y = (row + 0.5) / unit - 512;
            const double square = coverage(roundedSquare(x, y, 420, 90) * unit);
            const double star = coverage((starburst(x, y, 11, 250) - 34) * unit) * square;
            // Straight colour: terracotta under white, then premultiplied by the square's coverage.
            const double red = 0.85 * (1 - star) + star;
            const double green = 0.47 * (1 - star) + star;
            const double blue = 0.34 * (1 - star) + star;
            const auto channel = [square](double value) {
                return static_cast<std::uint32_t>(std::lround(value * square * 255));
            };
            bitmap.pixels()[row * side + column] =
                channel(1.0) << 24 | channel(red) << 16 | channel(green) << 8 | channel(blue);
        }
    }
    return bitmap;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: korvel-demo-icns <file.icns | file.png>\n");
        return 2;
    }
    // A .png is the 512-pixel image alone, as an icon theme holds it.
    const bool png = std::string_view(argv[1]).ends_with(".png");
    std::vector<Bitmap> images;
    for (const int side : {16, 32, 64, 128, 256, 512})
        images.push_back(icon(side));
    const auto data = png ? images.back().encodePng() : korvel::IcnsFile::encode(images);
    if (!data) {
        std::fprintf(stderr, "korvel-demo-icns: the icon could not be encoded\n");
        return 1;
    }
    try {
        korvel::AtomicFile::write(argv[1], *data);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "korvel-demo-icns: %s\n", error.what());
        return 1;
    }
    return 0;
}
