#pragma once

#include "core/building/Bitmap.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// Apple Icon Image (ICNS) files, written and read by us.
namespace IcnsFile {

// A container holding each image as PNG, under the element type macOS expects for its side:
// 16 icp4, 32 icp5, 64 icp6, 128 ic07, 256 ic08, 512 ic09, 1024 ic10. Nothing when an image is not a square
// of one of those sides, two images share a side, or an image cannot be encoded.
std::optional<std::string> encode(const std::vector<Bitmap>& images);

// Every image in the data that we can decode, in file order: PNG payloads (icp4–icp6, ic04/ic05, ic07–ic14),
// ARGB run-length data (ic04/ic05), and the classic 24-bit is32/il32/ih32/it32 images with their
// s8mk/l8mk/h8mk/t8mk masks. JPEG 2000 payloads and other elements are skipped. Empty when the container is
// malformed (a length that runs past the end, is too short, or a truncated header).
std::vector<Bitmap> decodeAll(std::string_view data);

// The decodable image of the largest nominal side; nothing when there is none or the container is malformed.
std::optional<Bitmap> largestImage(std::string_view data);
// The same for a file; nothing when it is not a readable regular file of a sane size. Never throws.
std::optional<Bitmap> largestImageInFile(const std::filesystem::path& file);

// The largest image of the file as PNG bytes with its pixel sides: a PNG payload as it is (read, not decoded), else
// the largest decodable image encoded. Nothing when there is none. Never throws.
struct Png
{
    std::string bytes;
    int width = 0;
    int height = 0;
};
std::optional<Png> largestPngInFile(const std::filesystem::path& file);

// Whether the file holds a PNG of every side encode writes (a file of ours, whole). Nothing is decoded. Never
// throws.
bool holdsEverySize(const std::filesystem::path& file);

} // namespace IcnsFile
} // namespace korvel
