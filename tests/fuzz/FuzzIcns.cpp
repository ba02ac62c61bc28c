// ICNS files: the icon of every bundle the desktop entries and badges are made from.
#include "core/building/IcnsFile.hpp"
#include "tests/fuzz/Fuzzing.hpp"
#include "tests/support/SolidBitmap.hpp"

int main(int argc, char** argv)
{
    using namespace korvel;
    const auto icns = IcnsFile::encode({test::solidBitmap(16, 16, 0xff336699), test::solidBitmap(32, 32, 0x80102030)});
    // Classic elements too: 16 × 16 run-length RGB (each plane two runs) and its mask.
    std::string planes;
    for (int plane = 0; plane < 3; ++plane)
        planes += "\xff\x01\xfb\x01";
    const std::string classic = std::string("icns\0\0\x01\x24is32\0\0\0\x14", 16) + planes +
        std::string("s8mk\0\0\x01\x08", 8) + std::string(256, '\x80');
    return fuzz::main(argc, argv,
        {{icns.value_or("icns"), classic, "icns\0\0\0\x08"},
            {"icns", "ic07", "ic04", "is32", "s8mk", "\x89PNG\r\n\x1a\n", "IHDR", "IDAT", "\xff\xff\xff\xff",
                std::string("\0\0\0\0", 4)},
            [](std::string_view input) {
                const auto images = IcnsFile::decodeAll(input);
                for (const Bitmap& image : images)
                    if (image.width() <= 0 || image.height() <= 0)
                        throw fuzz::Fault {"an image without pixels"};
                IcnsFile::largestImage(input);
            }});
}
