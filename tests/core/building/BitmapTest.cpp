#include "core/building/Bitmap.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace korvel;

TEST(Bitmap, SizeLimitsAndStraightPixelAccess)
{
    for (const auto& [width, height] : {std::pair {0, 4}, {4, -1}, {Bitmap::maxSide + 1, 1}})
        EXPECT_TRUE(Bitmap(width, height).isEmpty()) << width << "x" << height;

    Bitmap image(3, 2);
    EXPECT_EQ(image.pixel(2, 1), Bitmap::Rgba {});
    image.pixels()[5] = 0xff0a141eu; // rows from the top: the last word is the bottom right pixel
    EXPECT_EQ(image.pixel(2, 1), (Bitmap::Rgba {10, 20, 30, 255}));
    image.pixels()[0] = 0x80400080u; // stored premultiplied, read straight
    EXPECT_EQ(image.pixel(0, 0), (Bitmap::Rgba {128, 0, 255, 128}));
    EXPECT_THROW(image.pixel(3, 0), std::out_of_range);
    EXPECT_THROW(image.pixel(-1, 0), std::out_of_range);
}

TEST(Bitmap, PngRoundTripKeepsPixelsAndSize)
{
    Bitmap image(5, 3);
    image.pixels()[0] = 0xffff0000u;
    image.pixels()[1] = 0x80006400u;
    const auto decoded = Bitmap::decodePng(image.encodePng().value());
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->width(), 5);
    EXPECT_EQ(decoded->height(), 3);
    EXPECT_EQ(decoded->pixel(0, 0), (Bitmap::Rgba {255, 0, 0, 255}));
    EXPECT_EQ(decoded->pixel(1, 0).alpha, 128);
    EXPECT_NEAR(decoded->pixel(1, 0).green, 200, 1);
    EXPECT_EQ(decoded->pixel(4, 2), Bitmap::Rgba {});
    EXPECT_FALSE(Bitmap().encodePng().has_value());
    // Malformed PNGs: see the ICNS tests, whose truncated and damaged elements are PNGs.

    // An opaque image is written as an RGB PNG, which cairo reads into another pixel format.
    Bitmap opaque(4, 4);
    for (int i = 0; i < 16; ++i)
        opaque.pixels()[i] = 0xff0007c8u | static_cast<std::uint32_t>(16 * i) << 16;
    EXPECT_EQ(Bitmap::decodePng(opaque.encodePng().value()), opaque);
}
