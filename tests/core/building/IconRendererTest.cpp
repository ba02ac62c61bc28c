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
#include <future>

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
    explicit Badge(int side)
        : left(0.46 * side)
        , diameter(0.5 * side)
        , centerX(0.71 * side)
        , centerY(0.71 * side)
        , discDiameter(side >= 64 ? 0.88 * diameter : diameter) // the ring takes 6 % on each side
    { }
};

::testing::AssertionResult hasColor(Bitmap::Rgba actual, Rgb expected)
{
    const auto near = [](int channel, double value) { return std::abs(channel - std::lround(value * 255)) <= 1; };
    const bool same = actual.alpha == 255 && near(actual.red, expected.red) && near(actual.green, expected.green) &&
        near(actual.blue, expected.blue);
    return (same ? ::testing::AssertionSuccess() : ::testing::AssertionFailure())
        << "pixel " << int(actual.red) << "," << int(actual.green) << "," << int(actual.blue) << " alpha "
        << int(actual.alpha);
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
    const Badge badge(icon.width());
    return at(icon, badge.left + 0.03 * badge.diameter, badge.centerY);
}

} // namespace

TEST(IconRenderer, BadgeGeometryAt1024)
{
    const auto icon = IconRenderer::appIcon(solidBitmap(64, 64, darkBase), "I", blue, 1024);
    ASSERT_TRUE(icon.has_value());
    ASSERT_EQ(icon->width(), 1024);
    const Badge badge(1024);

    // The base fills the square up to the corners and around the badge.
    for (const auto& [x, y] : {std::pair {0, 0}, {1023, 0}, {0, 1023}, {1023, 1023}})
        EXPECT_EQ(icon->pixel(x, y), darkBaseRgba) << x << "," << y;
    EXPECT_EQ(at(*icon, badge.left - 3, badge.centerY), darkBaseRgba);
    EXPECT_EQ(at(*icon, badge.centerX, badge.centerY + badge.diameter / 2 + 3), darkBaseRgba);

    // A white ring just inside the badge, the disc's colour beyond it and around the letter.
    EXPECT_TRUE(isWhite(ringPixel(*icon)));
    EXPECT_TRUE(isWhite(at(*icon, badge.centerX, badge.centerY - badge.diameter / 2 + 0.03 * badge.diameter)));
    EXPECT_TRUE(hasColor(at(*icon, badge.left + 0.06 * badge.diameter + 4, badge.centerY), blue));
    EXPECT_TRUE(hasColor(at(*icon, badge.centerX + 0.25 * badge.discDiameter, badge.centerY), blue));
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
            EXPECT_TRUE(hasColor(at(*icon, std::ceil(Badge(size).left), Badge(size).centerY), green)) << size;
        }
    }
}

TEST(IconRenderer, BaseIsStretchedAveragedOrLeftTransparent)
{
    const Badge badge(1024);
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
    for (int i = 0; i < 1024 * 1024; ++i)
        stripes.pixels()[i] = ((i % 1024 + 16) / 32) % 2 ? 0xffffffffu : 0xff000000u;
    const auto small = IconRenderer::appIcon(stripes, "A", green, 16);
    for (const auto& [x, y] : {std::pair {0, 0}, {1, 2}, {3, 1}, {4, 4}}) {
        EXPECT_NEAR(small->pixel(x, y).red, 128, 8) << x << "," << y;
        EXPECT_EQ(small->pixel(x, y).alpha, 255);
    }
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
    EXPECT_EQ(Bitmap::decodePng(readText(dir / "extracted/ProfileIcon_1024x1024x32.png")), expected);

    // A second write replaces the file and leaves no temporary file behind; a failure names the destination.
    IconRenderer::writeICNS(base, "Q", green, file);
    EXPECT_NE(readText(file), bytes);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2);
    writeText(dir / "file", "x");
    const auto error = thrown<FileError>([&] { IconRenderer::writeICNS(base, "A", blue, dir / "file/Icon.icns"); });
    EXPECT_EQ(error.kind(), FileError::Kind::WriteUnknown);
    EXPECT_EQ(error.path(), dir / "file/Icon.icns");
}

TEST(IconRenderer, MenuBadgePlaceholderAndSizesThatCannotBeMade)
{
    // The bare badge at scale 2: the first pixel column is the half-point inset, the next ones the disc; no ring.
    const Bitmap two = IconRenderer::badge("I", blue, 16).render(2);
    ASSERT_EQ(two.width(), 32);
    EXPECT_LT(two.pixel(0, 16).alpha, 20);
    EXPECT_TRUE(hasColor(two.pixel(2, 16), blue));
    EXPECT_EQ(two.pixel(31, 31).alpha, 0);
    EXPECT_TRUE(isWhite(two.pixel(16, 16)));
    EXPECT_EQ(IconRenderer::badge("A", blue, 14).render(1.5).width(), 21);
    for (const double scale : {0.0, std::nan("")})
        EXPECT_TRUE(IconRenderer::badge("A", blue, 14).render(scale).isEmpty()) << scale;

    const Bitmap placeholder = IconRenderer::placeholderBase(); // a grey rounded square
    EXPECT_EQ(placeholder.width(), 1024);
    EXPECT_EQ(placeholder.pixel(110, 110).alpha, 0);
    const auto middle = placeholder.pixel(512, 512);
    EXPECT_EQ(middle.alpha, 255);
    EXPECT_NEAR(middle.red, middle.blue, 10);
    EXPECT_NEAR(middle.green, middle.blue, 10);

    for (const int size : {0, Bitmap::maxSide + 1})
        EXPECT_FALSE(IconRenderer::appIcon(Bitmap(), "A", blue, size).has_value()) << size;
    EXPECT_FALSE(IconRenderer::appIcon(Bitmap(), "\xff\xfe", blue, 64).has_value()) << "not UTF-8";
}

TEST(IconRenderer, ConcurrentRenderingGivesTheSameImages)
{
    const Bitmap base = IconRenderer::placeholderBase();
    const auto render = [&] {
        return std::pair(IconRenderer::appIcon(base, "W", green, 256), IconRenderer::badge("É", green, 16).render(2));
    };
    const auto expected = render();
    std::vector<std::future<bool>> threads;
    for (int t = 0; t < 4; ++t)
        threads.push_back(std::async(std::launch::async, [&] {
            for (int round = 0; round < 5; ++round) {
                if (render() != expected)
                    return false;
            }
            return true;
        }));
    for (auto& same : threads)
        EXPECT_TRUE(same.get());
}
