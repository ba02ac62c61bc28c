#pragma once

#include "core/building/Bitmap.hpp"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string_view>

namespace korvel {

// An icon file of the desktop (PNG or SVG) drawn into a bitmap within a budget, so that a hostile or broken file
// costs a moment and gives nothing rather than minutes and gigabytes. Never throws.
namespace IconFile {

// A PNG wider or taller than this is refused before it is decoded: icon themes go up to 1024 pixels.
inline constexpr int maxPngSide = 2048;

// What drawing one SVG may take. An SVG is drawn in a child process held to these: beyond them it is ended.
struct Budget
{
    std::chrono::milliseconds time {5000};
    std::size_t memory = 256 * 1024 * 1024; // bytes of memory the drawing may add
};

// The image of a PNG or SVG file (by its extension), an SVG drawn to fill `svgSide` × `svgSide` pixels. Nothing
// when the file is unreadable, larger than InstalledApplications::maxIconFileSize, malformed, too large a PNG, or
// an SVG beyond the budget.
std::optional<Bitmap> load(const std::filesystem::path& file, int svgSide, const Budget& budget = {});

// The SVG document drawn to fill `side` × `side` pixels within the budget; nothing otherwise.
std::optional<Bitmap> drawSvg(std::string_view bytes, int side, const Budget& budget = {});

} // namespace IconFile
} // namespace korvel
