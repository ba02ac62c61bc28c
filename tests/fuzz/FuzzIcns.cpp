// ICNS files: the icon of every bundle the desktop entries and badges are made from.
#include "core/building/IcnsFile.hpp"
#include "tests/fuzz/Fuzzing.hpp"
#include "tests/support/SolidBitmap.hpp"

int main(int argc, char** argv)
{
    using namespace korvel;
    const auto icns = IcnsFile::encode({test::solidBitmap(16, 16, 0xff336699), test::solidBitmap(32, 32, 0x80102030)});
    return fuzz::main(argc, argv,
        {{icns.value_or("icns"), "icns\0\0\0\x08"},
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
