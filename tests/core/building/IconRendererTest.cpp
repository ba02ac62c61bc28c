#include "core/building/IconRenderer.hpp"

#include "core/building/IcnsFile.hpp"
#include "core/support/FileError.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/DrawingCacheCleanup.hpp"
#include "tests/support/SolidBitmap.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/Thrown.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

using namespace korvel;
using namespace korvel::test;
namespace fs = std::filesystem;

namespace {

[[maybe_unused]] const auto* const cleanup = ::testing::AddGlobalTestEnvironment(new DrawingCacheCleanup);

constexpr Rgb blue = {0.18, 0.48, 0.92};
constexpr Rgb green = {0.20, 0.66, 0.33};
constexpr std::uint32_t darkBase = 0xff203040u;
const Bitmap::Rgba darkBaseRgba = {0x20, 0x30, 0x40, 255};

// The badge of an icon of side S in pixels from the top left, as the icon geometry lays it out.
struct Badge
{
    double left, diameter, centerX, centerY, discDiameter;
};

Badge badgeOf(int side)
{
    const double diameter = 0.5 * side, margin = 0.04 * side, left = side - diameter - margin;
    const double ring = side >= 64 ? 0.06 * diameter : 0;
    return {left, diameter, left + diameter / 2, side - margin - diameter / 2, diameter - 2 * ring};
}

::testing::AssertionResult hasColor(Bitmap::Rgba actual, Rgb expected)
{
    const auto near = [](int channel, double value) { return std::abs(channel - std::lround(value * 255)) <= 1; };
    if (actual.alpha == 255 && near(actual.red, expected.red) && near(actual.green, expected.green) &&
        near(actual.blue, expected.blue))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel " << int(actual.red) << "," << int(actual.green) << ","
                                         << int(actual.blue) << " alpha " << int(actual.alpha);
}

bool isWhite(Bitmap::Rgba pixel)
{
    return pixel.alpha == 255 && pixel.red >= 250 && pixel.green >= 250 && pixel.blue >= 250;
}

Bitmap::Rgba at(const Bitmap& image, double x, double y)
{
    return image.pixel(static_cast<int>(std::floor(x)), static_cast<int>(std::floor(y)));
}

// Where the white ring is drawn, when there is one: just inside the badge's left edge.
Bitmap::Rgba ringPixel(const Bitmap& icon)
{
    const Badge badge = badgeOf(icon.width());
    return at(icon, badge.left + 0.03 * badge.diameter, badge.centerY);
}

} // namespace

TEST(IconRenderer, BadgeGeometryAt1024)
{
    const auto icon = IconRenderer::appIcon(solidBitmap(64, 64, darkBase), "I", blue, 1024);
    ASSERT_TRUE(icon.has_value());
    ASSERT_EQ(icon->width(), 1024);
    ASSERT_EQ(icon->height(), 1024);
    const Badge badge = badgeOf(1024);

    // The base fills the square up to the corners and around the badge.
    for (const auto& [x, y] : {std::pair {0, 0}, {1023, 0}, {0, 1023}, {1023, 1023}})
        EXPECT_EQ(icon->pixel(x, y), darkBaseRgba) << x << "," << y;
    EXPECT_EQ(at(*icon, badge.left - 3, badge.centerY), darkBaseRgba);
    EXPECT_EQ(at(*icon, badge.centerX, badge.centerY + badge.diameter / 2 + 3), darkBaseRgba);

    // A white ring just inside the badge on its left and top, the disc's colour beyond it and around the letter.
    EXPECT_TRUE(isWhite(ringPixel(*icon)));
    EXPECT_TRUE(isWhite(at(*icon, badge.centerX, badge.centerY - badge.diameter / 2 + 0.03 * badge.diameter)));
    EXPECT_TRUE(hasColor(at(*icon, badge.left + 0.06 * badge.diameter + 4, badge.centerY), blue));
    EXPECT_TRUE(hasColor(at(*icon, badge.centerX - 0.25 * badge.discDiameter, badge.centerY), blue));
    EXPECT_TRUE(hasColor(at(*icon, badge.centerX + 0.25 * badge.discDiameter, badge.centerY), blue));
    EXPECT_TRUE(hasColor(at(*icon, badge.centerX, badge.centerY - 0.4 * badge.discDiameter), blue));
    EXPECT_TRUE(isWhite(at(*icon, badge.centerX, badge.centerY))) << "the letter";
}

TEST(IconRenderer, RingOnlyFrom64Pixels)
{
    for (const int size : IconRenderer::icnsSizes) {
        const auto icon = IconRenderer::appIcon(solidBitmap(16, 16, darkBase), "I", green, size);
        ASSERT_TRUE(icon.has_value());
        ASSERT_EQ(icon->width(), size);
        if (size >= 64) {
            EXPECT_TRUE(isWhite(ringPixel(*icon))) << size;
        } else {
            // The disc reaches the badge's edge: the first whole pixel inside it has the disc's colour.
            EXPECT_TRUE(hasColor(at(*icon, std::ceil(badgeOf(size).left), badgeOf(size).centerY), green)) << size;
        }
    }
}

TEST(IconRenderer, BaseIsStretchedAveragedOrLeftTransparent)
{
    const Badge badge = badgeOf(1024);
    for (const Bitmap& base : {Bitmap(), Bitmap(10, 10)}) {
        const auto icon = IconRenderer::appIcon(base, "W", blue, 1024);
        ASSERT_TRUE(icon.has_value());
        EXPECT_EQ(icon->pixel(10, 10).alpha, 0);
        EXPECT_EQ(at(*icon, badge.left + 4, badge.centerY - badge.diameter / 2 + 4).alpha, 0); // badge corner
        EXPECT_TRUE(isWhite(ringPixel(*icon)));
    }

    Bitmap wide(2, 1);
    wide.pixels()[0] = 0xffff0000u;
    wide.pixels()[1] = 0xff0000ffu;
    const auto stretched = IconRenderer::appIcon(wide, "A", green, 256);
    EXPECT_EQ(stretched->pixel(0, 255), (Bitmap::Rgba {255, 0, 0, 255}));
    EXPECT_EQ(stretched->pixel(255, 0), (Bitmap::Rgba {0, 0, 255, 255}));

    // Stripes half an output pixel wide must average to grey; a filter that looks at only part of each pixel's
    // area (cairo's stops at 16 source pixels) leaves them black or white.
    Bitmap stripes(1024, 1024);
    for (int y = 0; y < 1024; ++y) {
        for (int x = 0; x < 1024; ++x)
            stripes.pixels()[y * 1024 + x] = ((x + 16) / 32) % 2 ? 0xffffffffu : 0xff000000u;
    }
    const auto small = IconRenderer::appIcon(stripes, "A", green, 16);
    for (const auto& [x, y] : {std::pair {0, 0}, {1, 2}, {3, 1}, {4, 4}}) {
        EXPECT_NEAR(small->pixel(x, y).red, 128, 8) << x << "," << y;
        EXPECT_EQ(small->pixel(x, y).alpha, 255);
    }
}

TEST(IconRenderer, LetterIsCentredAndNeverScaledDown)
{
    const Badge badge = badgeOf(1024);
    // The white columns of the badge's middle row inside the disc: the extent of the letter's ink.
    const auto ink = [&](std::string_view letter) {
        const auto icon = IconRenderer::appIcon(Bitmap(), letter, blue, 1024).value();
        std::pair<int, int> span {-1, -2};
        for (int x = 0; x < 1024; ++x) {
            const auto pixel = icon.pixel(x, static_cast<int>(badge.centerY));
            if (std::abs(x + 0.5 - badge.centerX) < badge.discDiameter / 2 - 2 && pixel.alpha == 255 &&
                pixel.red >= 200 && pixel.blue >= 200)
                span = {span.first < 0 ? x : span.first, x};
        }
        return span;
    };
    const auto single = ink("S"), twice = ink("SS");
    EXPECT_GT(twice.second - twice.first, 1.8 * (single.second - single.first));
    EXPECT_NEAR((twice.first + twice.second) / 2.0, badge.centerX, 4);
    EXPECT_EQ(ink(""), (std::pair {-1, -2}));
}

TEST(IconRenderer, AppIconFailsOnlyWhenNoBitmapCanBeMade)
{
    for (const int size : {0, -16, Bitmap::maxSide + 1})
        EXPECT_FALSE(IconRenderer::appIcon(Bitmap(), "A", blue, size).has_value()) << size;
    EXPECT_FALSE(IconRenderer::appIcon(Bitmap(), "\xff\xfe", blue, 64).has_value());
    EXPECT_TRUE(IconRenderer::appIcon(Bitmap(), "A", blue, 1).has_value());
}

TEST(IconRenderer, WriteICNSIsReadableByUsAndByIcns2png)
{
    TempDir dir;
    const Bitmap base = solidBitmap(300, 200, darkBase);
    const auto file = dir / "ProfileIcon.icns";
    IconRenderer::writeICNS(base, "W", blue, file);

    const std::string bytes = readText(file);
    const auto images = IcnsFile::decodeAll(bytes);
    ASSERT_EQ(images.size(), IconRenderer::icnsSizes.size());
    for (size_t i = 0; i < images.size(); ++i)
        EXPECT_EQ(images[i].width(), IconRenderer::icnsSizes[i]);
    const auto expected = IconRenderer::appIcon(base, "W", blue, 1024);
    EXPECT_EQ(images.back(), expected) << "opaque pixels survive PNG unchanged";

    fs::create_directory(dir / "extracted");
    const auto extracted =
        ChildProcess::run("/usr/bin/icns2png", {{"icns2png", "-x", "-o", (dir / "extracted").string(), file.string()}});
    ASSERT_EQ(extracted.exitStatus, 0) << extracted.standardOutput;
    for (const int size : {256, 512, 1024}) {
        const std::string side = std::to_string(size);
        const auto png =
            Bitmap::decodePng(readText(dir / "extracted" / ("ProfileIcon_" + side + "x" + side + "x32.png")));
        ASSERT_TRUE(png.has_value()) << size;
        EXPECT_EQ(png->width(), size);
        EXPECT_EQ(png->height(), size);
        if (size == 1024) {
            EXPECT_EQ(png, expected);
        }
    }

    // A second write replaces the file and leaves no temporary file behind; a failure names the destination.
    IconRenderer::writeICNS(base, "Q", green, file);
    EXPECT_NE(readText(file), bytes);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2);
    writeText(dir / "file", "x");
    const auto error = thrown<FileError>([&] { IconRenderer::writeICNS(base, "A", blue, dir / "file/Icon.icns"); });
    EXPECT_EQ(error.kind(), FileError::Kind::WriteUnknown);
    EXPECT_EQ(error.path(), dir / "file/Icon.icns");
}

TEST(IconRenderer, BadgeRendersItsRecipeAtAnyScale)
{
    const BadgeImage badge = IconRenderer::badge("I", blue, 16);
    const Bitmap two = badge.render(2);
    EXPECT_EQ(badge.render(1).width(), 16);
    EXPECT_EQ(two.width(), 32);
    EXPECT_EQ(two.height(), 32);
    EXPECT_EQ(IconRenderer::badge("A", blue, 14).render(1.5).width(), 21);
    EXPECT_TRUE(badge.render(0).isEmpty());
    EXPECT_TRUE(badge.render(std::nan("")).isEmpty());
    EXPECT_TRUE(IconRenderer::badge("A", blue, -3).render(1).isEmpty());

    // At scale 2 the first pixel column is the half-point inset, the next ones the disc; no ring.
    EXPECT_LT(two.pixel(0, 16).alpha, 20);
    EXPECT_TRUE(hasColor(two.pixel(2, 16), blue));
    EXPECT_TRUE(hasColor(two.pixel(16, 3), blue));
    EXPECT_EQ(two.pixel(31, 31).alpha, 0);
    EXPECT_TRUE(isWhite(two.pixel(16, 16)));
}

TEST(IconRenderer, PlaceholderBaseIsANeutralRoundedSquare)
{
    const Bitmap base = IconRenderer::placeholderBase();
    ASSERT_EQ(base.width(), 1024);
    ASSERT_EQ(base.height(), 1024);
    EXPECT_EQ(base.pixel(110, 110).alpha, 0); // outside the rounded corner
    const auto middle = base.pixel(512, 512);
    EXPECT_EQ(middle.alpha, 255);
    EXPECT_NEAR(middle.red, middle.blue, 10);
    EXPECT_NEAR(middle.green, middle.blue, 10);
    EXPECT_GT(middle.red, 100);
}

TEST(IconRenderer, ConcurrentRenderingGivesTheSameImages)
{
    const Bitmap base = IconRenderer::placeholderBase();
    const auto icon = IconRenderer::appIcon(base, "W", green, 256);
    const Bitmap badge = IconRenderer::badge("É", green, 16).render(2);
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < mismatches.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 5; ++round) {
                mismatches[t] += IconRenderer::appIcon(base, "W", green, 256) != icon;
                mismatches[t] += IconRenderer::badge("É", green, 16).render(2) != badge;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}
