#include "core/building/Bitmap.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>

using namespace korvel;

namespace {

std::uint32_t word(unsigned alpha, unsigned red, unsigned green, unsigned blue)
{
    return (alpha << 24) | (red << 16) | (green << 8) | blue;
}

std::uint32_t bigEndian32(const std::string& bytes, size_t at)
{
    std::uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

} // namespace

TEST(Bitmap, SizeLimitsAndPixelAccess)
{
    EXPECT_TRUE(Bitmap().isEmpty());
    EXPECT_TRUE(Bitmap(0, 4).isEmpty());
    EXPECT_TRUE(Bitmap(4, -1).isEmpty());
    EXPECT_TRUE(Bitmap(Bitmap::maxSide + 1, 1).isEmpty());

    Bitmap image(3, 2);
    ASSERT_FALSE(image.isEmpty());
    EXPECT_EQ(image.bytesPerLine(), 12);
    EXPECT_EQ(image.pixel(2, 1), Bitmap::Rgba {});
    // Rows from the top: the last word is the bottom right pixel.
    image.pixels()[5] = word(255, 10, 20, 30);
    EXPECT_EQ(image.pixel(2, 1), (Bitmap::Rgba {10, 20, 30, 255}));
    // Stored premultiplied, read straight.
    image.pixels()[0] = word(128, 64, 0, 128);
    EXPECT_EQ(image.pixel(0, 0), (Bitmap::Rgba {128, 0, 255, 128}));

    EXPECT_THROW(image.pixel(3, 0), std::out_of_range);
    EXPECT_THROW(image.pixel(0, 2), std::out_of_range);
    EXPECT_THROW(image.pixel(-1, 0), std::out_of_range);
}

TEST(Bitmap, PngRoundTripKeepsPixelsAndSize)
{
    Bitmap image(5, 3);
    image.pixels()[0] = word(255, 255, 0, 0);
    image.pixels()[1] = word(128, 0, 100, 0);
    image.pixels()[14] = word(255, 1, 2, 3);

    const auto png = image.encodePng();
    ASSERT_TRUE(png.has_value());
    ASSERT_GE(png->size(), 24u);
    EXPECT_EQ(png->substr(1, 3), "PNG");
    EXPECT_EQ(bigEndian32(*png, 16), 5u);
    EXPECT_EQ(bigEndian32(*png, 20), 3u);

    const auto decoded = Bitmap::decodePng(*png);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->width(), 5);
    EXPECT_EQ(decoded->height(), 3);
    EXPECT_EQ(decoded->pixel(0, 0), (Bitmap::Rgba {255, 0, 0, 255}));
    EXPECT_EQ(decoded->pixel(1, 0).alpha, 128);
    EXPECT_NEAR(decoded->pixel(1, 0).green, 200, 1);
    EXPECT_EQ(decoded->pixel(4, 2), (Bitmap::Rgba {1, 2, 3, 255}));
    EXPECT_EQ(decoded->pixel(2, 1), Bitmap::Rgba {});

    EXPECT_FALSE(Bitmap().encodePng().has_value());
}

TEST(Bitmap, OpaqueImagesComeBackOpaque)
{
    // An opaque image is written as an RGB PNG, which cairo reads into another pixel format.
    Bitmap image(4, 4);
    for (int i = 0; i < 16; ++i)
        image.pixels()[i] = word(255, 16u * static_cast<unsigned>(i), 7, 200);
    const auto decoded = Bitmap::decodePng(image.encodePng().value());
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, image);
}

TEST(Bitmap, MalformedPngsAreRefused)
{
    Bitmap image(8, 8);
    image.pixels()[9] = word(255, 9, 9, 9);
    const std::string png = image.encodePng().value();

    EXPECT_FALSE(Bitmap::decodePng("").has_value());
    EXPECT_FALSE(Bitmap::decodePng("not a png at all, not at all").has_value());
    for (size_t length : {size_t(8), size_t(23), size_t(33), png.size() / 2, png.size() - 13})
        EXPECT_FALSE(Bitmap::decodePng(png.substr(0, length)).has_value()) << length;

    std::string corrupt = png;
    for (size_t i = 41; i < corrupt.size() - 12; ++i)
        corrupt[i] = static_cast<char>(corrupt[i] ^ 0x5a);
    EXPECT_FALSE(Bitmap::decodePng(corrupt).has_value());
}
