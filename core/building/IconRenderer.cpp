#include "core/building/IconRenderer.hpp"

#include "core/building/CairoCanvas.hpp"
#include "core/building/IcnsFile.hpp"
#include "core/support/AtomicFile.hpp"
#include "core/support/FileError.hpp"

#include <vector>

namespace korvel::IconRenderer {
namespace {

// Below this side a ring would be a blurred pixel or two.
constexpr int smallestSizeWithRing = 64;

constexpr Rgb white = {1, 1, 1};

CairoCanvas::Rect badgeSquare(double side)
{
    const double diameter = 0.5 * side;
    const double margin = 0.04 * side;
    return {side - diameter - margin, margin, diameter, diameter};
}

[[noreturn]] void failWriting(const std::filesystem::path& destination)
{
    throw FileError(FileError::Kind::WriteUnknown, destination);
}

} // namespace

std::optional<Bitmap> appIcon(const Bitmap& base, std::string_view letter, Rgb color, int size)
{
    CairoCanvas canvas(size, size);
    const double side = size;
    canvas.drawImage(base, {0, 0, side, side});
    CairoCanvas::Rect disc = badgeSquare(side);
    if (size >= smallestSizeWithRing) {
        canvas.fillEllipse(disc, white);
        disc = disc.inset(0.06 * disc.width);
    }
    canvas.fillEllipse(disc, color);
    canvas.drawLetter(letter, disc);
    return canvas.finish();
}

void writeICNS(const Bitmap& base, std::string_view letter, Rgb color, const std::filesystem::path& destination)
{
    std::vector<Bitmap> images;
    for (const int size : icnsSizes) {
        auto image = appIcon(base, letter, color, size);
        if (!image)
            failWriting(destination);
        images.push_back(std::move(*image));
    }
    const auto file = IcnsFile::encode(images);
    if (!file)
        failWriting(destination);
    AtomicFile::write(destination, *file);
}

BadgeImage badge(std::string_view letter, Rgb color, double size)
{
    return {std::string(letter), color, size};
}

Bitmap placeholderBase()
{
    // The proportions of a macOS application icon: an 824-pixel body with rounded corners.
    constexpr int side = 1024;
    CairoCanvas canvas(side, side);
    canvas.fillRoundedRect({100, 100, 824, 824}, 185, {0.86, 0.86, 0.88}, {0.66, 0.66, 0.69});
    return canvas.finish().value_or(Bitmap());
}

} // namespace korvel::IconRenderer
