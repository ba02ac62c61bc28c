#pragma once

#include "core/building/BadgeImage.hpp"
#include "core/building/Bitmap.hpp"
#include "core/model/ProfileColor.hpp"

#include <array>
#include <filesystem>
#include <optional>
#include <string_view>

namespace korvel {

// Draws profile icons: the base icon with a round badge carrying the profile's letter in its lower right
// corner, and the bare badge for menus. Stateless; safe to call from several threads at once.
namespace IconRenderer {

// Pixel sides of the images in a profile icon file, in the order they are written.
inline constexpr std::array<int, 7> icnsSizes = {16, 32, 64, 128, 256, 512, 1024};
// The side a base image is drawn at when it has to be rendered first (a vector icon).
inline constexpr int baseSize = 1024;

// The base stretched over a square of size × size pixels with the badge on top (white ring from 64 pixels
// up). An empty base leaves the background transparent. Nothing when the bitmap cannot be made (a size
// outside 1…Bitmap::maxSide) or drawing fails.
std::optional<Bitmap> appIcon(const Bitmap& base, std::string_view letter, Rgb color, int size);

// Renders every size of icnsSizes and replaces the ICNS file at `destination` atomically.
// Throws FileError (WriteUnknown) naming `destination` on any failure.
void writeICNS(const Bitmap& base, std::string_view letter, Rgb color, const std::filesystem::path& destination);

// The bare badge of `size` points; drawn when rendered, at the display's scale.
BadgeImage badge(std::string_view letter, Rgb color, double size);

// A neutral stand-in for the base when the source bundle has no usable icon: a grey rounded square,
// 1024 × 1024 pixels, on a transparent background.
Bitmap placeholderBase();

} // namespace IconRenderer
} // namespace korvel
