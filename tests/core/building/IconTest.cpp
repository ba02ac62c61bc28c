#include "core/building/Bitmap.hpp"
#include "core/building/IcnsFile.hpp"
#include "core/building/IconFile.hpp"
#include "core/building/IconRenderer.hpp"
#include "core/system/InstalledApplications.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/DrawingCacheCleanup.hpp"
#include "tests/support/SolidBitmap.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <future>
#include <stdexcept>

using namespace korvel;
using namespace korvel::test;
namespace fs = std::filesystem;

namespace {

[[maybe_unused]] const auto* const cleanup = ::testing::AddGlobalTestEnvironment(new DrawingCacheCleanup);

constexpr Rgb blue = {0.18, 0.48, 0.92};
constexpr Rgb green = {0.20, 0.66, 0.33};
constexpr std::uint32_t darkBase = 0xff203040u;
const Bitmap::Rgba darkBaseRgba = {0x20, 0x30, 0x40, 255};

// The badge of an icon of `side` pixels, from the top left, as the icon geometry lays it out; from 64 pixels the
// white ring takes 6 % of the badge on each side.
struct Badge
{
    double left, diameter, center, disc;
};
Badge badgeOf(int side)
{
    return {0.46 * side, 0.5 * side, 0.71 * side, side >= 64 ? 0.44 * side : 0.5 * side};
}

bool hasColor(Bitmap::Rgba pixel, Rgb color)
{
    const auto near = [](int channel, double value) { return std::abs(channel - std::lround(value * 255)) <= 1; };
    return pixel.alpha == 255 && near(pixel.red, color.red) && near(pixel.green, color.green) &&
        near(pixel.blue, color.blue);
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
    return at(icon, badge.left + 0.03 * badge.diameter, badge.center);
}

std::string bigEndian32(std::uint32_t value)
{
    return {char(value >> 24), char(value >> 16 & 0xff), char(value >> 8 & 0xff), char(value & 0xff)};
}

std::string element(std::string_view type, std::string_view payload)
{
    return std::string(type) + bigEndian32(static_cast<std::uint32_t>(payload.size() + 8)) + std::string(payload);
}

std::string container(const std::string& elements)
{
    return "icns" + bigEndian32(static_cast<std::uint32_t>(elements.size() + 8)) + elements;
}

// One channel of side × side bytes in Apple's run-length form: a run of `runLength` copies of `runValue`,
// then the rest as literal bytes counting up from `firstLiteral`.
std::string runLengthPlane(int side, int runLength, std::uint8_t runValue, std::uint8_t firstLiteral)
{
    std::string out;
    for (int run = runLength, count; run > 0; run -= count) {
        count = std::min(run, 130);
        out += {char(count + 125), char(runValue)};
    }
    for (int left = side * side - runLength, count; left > 0; left -= count) {
        count = std::min(left, 128);
        out += char(count - 1);
        for (int i = 0; i < count; ++i)
            out += char(firstLiteral++);
    }
    return out;
}

// Each of our sides, the blue channel telling which image is which (1024 wraps to 0).
std::vector<Bitmap> ourSides()
{
    std::vector<Bitmap> sides;
    for (const int side : IconRenderer::icnsSizes)
        sides.push_back(solidBitmap(side, side, 0xff000000u | static_cast<std::uint32_t>(side & 0xff)));
    return sides;
}

} // namespace

TEST(Bitmap, SizeLimitsStraightPixelAccessAndPng)
{
    for (const auto& [width, height] : {std::pair {0, 4}, {4, -1}, {Bitmap::maxSide + 1, 1}})
        EXPECT_TRUE(Bitmap(width, height).isEmpty()) << width << "x" << height;
    EXPECT_FALSE(Bitmap().encodePng().has_value());

    Bitmap image(3, 2);
    image.pixels()[5] = 0xff0a141eu; // rows from the top: the last word is the bottom right pixel
    EXPECT_EQ(image.pixel(2, 1), (Bitmap::Rgba {10, 20, 30, 255}));
    image.pixels()[0] = 0x80400080u; // stored premultiplied, read straight
    EXPECT_EQ(image.pixel(0, 0), (Bitmap::Rgba {128, 0, 255, 128}));
    EXPECT_THROW(image.pixel(3, 0), std::out_of_range);
    EXPECT_THROW(image.pixel(-1, 0), std::out_of_range);
    EXPECT_EQ(Bitmap::decodePng(image.encodePng().value()), image);

    // An opaque image is written as an RGB PNG, which cairo reads into another pixel format.
    Bitmap opaque(4, 4);
    for (int i = 0; i < 16; ++i)
        opaque.pixels()[i] = 0xff0007c8u | static_cast<std::uint32_t>(16 * i) << 16;
    EXPECT_EQ(Bitmap::decodePng(opaque.encodePng().value()), opaque);
}

TEST(IcnsFile, OurFileHoldsEverySizeForUsAndForIcns2png)
{
    TempDir dir;
    const std::vector<Bitmap> sides = ourSides();
    const std::string file = IcnsFile::encode(sides).value();
    EXPECT_EQ(file.substr(0, 8), "icns" + bigEndian32(static_cast<std::uint32_t>(file.size())));
    for (const char* type : {"icp4", "icp5", "icp6", "ic07", "ic08", "ic09", "ic10"})
        EXPECT_NE(file.find(type), std::string::npos) << type;
    EXPECT_EQ(IcnsFile::decodeAll(file), sides);
    writeText(dir / "Icon.icns", file);
    EXPECT_EQ(IcnsFile::largestImageInFile(dir / "Icon.icns"), sides.back());
    EXPECT_FALSE(IcnsFile::largestImageInFile(dir / "missing.icns").has_value());
    EXPECT_FALSE(IcnsFile::largestImageInFile(dir.path()).has_value());

    const auto extracted = ChildProcess::run(
        "/usr/bin/icns2png", {{"icns2png", "-x", "-o", dir.path().string(), (dir / "Icon.icns").string()}});
    ASSERT_EQ(extracted.exitStatus, 0) << extracted.standardOutput;
    EXPECT_EQ(Bitmap::decodePng(readText(dir / "Icon_1024x1024x32.png")), sides.back());
    EXPECT_EQ(Bitmap::decodePng(readText(dir / "Icon_256x256x32.png")), sides[4]);
}

TEST(IcnsFile, ReadsClassicImagesWithTheirMasksAndArgbAndSkipsJpeg2000)
{
    // 16 × 16 run-length RGB with a mask; 32 × 32 uncompressed; 128 × 128 it32 with its prefix; 16 × 16 ARGB.
    std::string mask(256, '\xff');
    mask[0] = static_cast<char>(0x80);
    std::string raw;
    for (int i = 0; i < 32 * 32; ++i)
        raw += std::string("\0\x0a\x14\x1e", 4);
    const std::string file = container(
        element(
            "is32", runLengthPlane(16, 100, 200, 0) + runLengthPlane(16, 256, 50, 0) + runLengthPlane(16, 256, 60, 0)) +
        element("s8mk", mask) + element("il32", raw) +
        element("it32",
            std::string(4, '\0') + runLengthPlane(128, 16384, 90, 0) + runLengthPlane(128, 16000, 91, 7) +
                runLengthPlane(128, 16384, 92, 0)) +
        element("ic04",
            "ARGB" + runLengthPlane(16, 256, 255, 0) + runLengthPlane(16, 256, 1, 0) + runLengthPlane(16, 256, 2, 0) +
                runLengthPlane(16, 256, 3, 0)) +
        element("TOC ", "ignored"));
    const std::string jpeg2000 = std::string("\0\0\0\x0cjP  \r\n\x87\n", 12) + std::string(100, 'j');
    const Bitmap green = solidBitmap(256, 256, 0xff00ff00u);
    const auto images = IcnsFile::decodeAll(file);
    ASSERT_EQ(images.size(), 4u);
    EXPECT_EQ(images[0].pixel(0, 0).alpha, 0x80);
    EXPECT_NEAR(images[0].pixel(0, 0).red, 200, 1);
    EXPECT_EQ(images[0].pixel(4, 6), (Bitmap::Rgba {0, 50, 60, 255})); // pixel 100: the first literal byte
    EXPECT_EQ(images[1].pixel(31, 31), (Bitmap::Rgba {10, 20, 30, 255}));
    EXPECT_EQ(images[2].pixel(0, 0), (Bitmap::Rgba {90, 91, 92, 255}));
    EXPECT_EQ(images[2].pixel(127, 127), (Bitmap::Rgba {90, (7 + 383) % 256, 92, 255}));
    EXPECT_EQ(images[3].pixel(8, 8), (Bitmap::Rgba {1, 2, 3, 255}));
    EXPECT_EQ(IcnsFile::largestImage(file)->width(), 128);
    // The 1024 element holds JPEG 2000 and is skipped: the 256 PNG is the largest.
    EXPECT_EQ(IcnsFile::largestImage(container(element("ic10", jpeg2000) + element("ic13", green.encodePng().value()))),
        green);
}

TEST(IcnsFile, MalformedContainersYieldNothing)
{
    const std::string good = IcnsFile::encode(ourSides()).value();
    const auto broken = [&](size_t at, std::uint32_t length) {
        return std::string(good).replace(at, 4, bigEndian32(length));
    };
    std::string halfPng = solidBitmap(64, 64, 0xff102030u).encodePng().value();
    halfPng.resize(halfPng.size() / 2);
    for (const std::string& data : {std::string(), std::string("icns"), "ICNS" + good.substr(4), good.substr(0, 7),
             good.substr(0, 12), good.substr(0, good.size() - 1), // the header runs past the end
             broken(4, static_cast<std::uint32_t>(good.size() - 100))
                 .substr(0, good.size() - 100), // the last element does
             broken(12, 0), broken(12, 7), broken(12, 0xffffffffu), // element lengths
             container(element("icp6", halfPng)), container(element("ic08", "")),
             container(element("is32", std::string(10, '\x7f')))}) {
        EXPECT_TRUE(IcnsFile::decodeAll(data).empty()) << data.size();
        EXPECT_FALSE(IcnsFile::largestImage(data).has_value()) << data.size();
    }
}

TEST(IconRenderer, BadgeGeometryWithTheRingFrom64Pixels)
{
    const auto icon = IconRenderer::appIcon(solidBitmap(64, 64, darkBase), "I", blue, 1024);
    ASSERT_TRUE(icon.has_value());
    ASSERT_EQ(icon->width(), 1024);
    const Badge badge = badgeOf(1024);
    // The base fills the square up to the corners and around the badge.
    for (const auto& [x, y] : {std::pair {0, 0}, {1023, 0}, {0, 1023}, {1023, 1023}})
        EXPECT_EQ(icon->pixel(x, y), darkBaseRgba) << x << "," << y;
    EXPECT_EQ(at(*icon, badge.left - 3, badge.center), darkBaseRgba);
    EXPECT_EQ(at(*icon, badge.center, badge.center + badge.diameter / 2 + 3), darkBaseRgba);
    // A white ring just inside the badge, the disc's colour beyond it and around the letter.
    EXPECT_TRUE(isWhite(ringPixel(*icon)));
    EXPECT_TRUE(isWhite(at(*icon, badge.center, badge.center - badge.diameter / 2 + 0.03 * badge.diameter)));
    EXPECT_TRUE(hasColor(at(*icon, badge.left + 0.06 * badge.diameter + 4, badge.center), blue));
    EXPECT_TRUE(hasColor(at(*icon, badge.center + 0.25 * badge.disc, badge.center), blue));
    EXPECT_TRUE(isWhite(at(*icon, badge.center, badge.center))) << "the letter";

    for (const int size : {16, 32, 64, 128}) {
        const auto small = IconRenderer::appIcon(solidBitmap(16, 16, darkBase), "I", green, size);
        ASSERT_EQ(small->width(), size);
        // Below 64 pixels the disc reaches the badge's edge: the first whole pixel inside has the disc's colour.
        EXPECT_TRUE(size >= 64 ? isWhite(ringPixel(*small))
                               : hasColor(at(*small, std::ceil(badgeOf(size).left), badgeOf(size).center), green))
            << size;
    }
}

TEST(IconRenderer, BaseIsStretchedAveragedOrLeftTransparent)
{
    const Badge badge = badgeOf(1024);
    for (const Bitmap& base : {Bitmap(), Bitmap(10, 10)}) {
        const auto icon = IconRenderer::appIcon(base, "W", blue, 1024);
        EXPECT_EQ(icon->pixel(10, 10).alpha, 0);
        EXPECT_EQ(at(*icon, badge.left + 4, badge.center - badge.diameter / 2 + 4).alpha, 0); // badge corner
        EXPECT_TRUE(isWhite(ringPixel(*icon)));
    }
    Bitmap wide(2, 1); // stretched, not fitted
    wide.pixels()[0] = 0xffff0000u;
    EXPECT_EQ(IconRenderer::appIcon(wide, "A", green, 256)->pixel(0, 255), (Bitmap::Rgba {255, 0, 0, 255}));

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

TEST(IconRenderer, WriteICNSHoldsEverySizeInOrder)
{
    TempDir dir;
    const Bitmap base = solidBitmap(300, 200, darkBase);
    IconRenderer::writeICNS(base, "W", blue, dir / "ProfileIcon.icns");
    const auto images = IcnsFile::decodeAll(readText(dir / "ProfileIcon.icns"));
    ASSERT_EQ(images.size(), IconRenderer::icnsSizes.size());
    for (size_t i = 0; i < images.size(); ++i)
        EXPECT_EQ(images[i], IconRenderer::appIcon(base, "W", blue, IconRenderer::icnsSizes[i]));
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
    EXPECT_EQ(placeholder.pixel(110, 110).alpha, 0);
    const auto middle = placeholder.pixel(512, 512);
    EXPECT_TRUE(
        middle.alpha == 255 && std::abs(middle.red - middle.blue) < 10 && std::abs(middle.green - middle.blue) < 10);

    for (const int size : {0, Bitmap::maxSide + 1})
        EXPECT_FALSE(IconRenderer::appIcon(Bitmap(), "A", blue, size).has_value()) << size;
    EXPECT_FALSE(IconRenderer::appIcon(Bitmap(), "\xff\xfe", blue, 64).has_value()) << "not UTF-8";
}

// Letters DejaVu Sans lacks are drawn with the font fontconfig falls back to (the setup installs a small CJK font):
// a glyph has ink well inside the box its ink spans, where the empty box of a missing glyph has none.
TEST(IconRenderer, LettersInAnyScriptAreDrawnNotBoxed)
{
    for (const char* letter : {"字", "あ", "W", "É"}) {
        const Bitmap badge = IconRenderer::badge(letter, blue, 64).render(2);
        int left = badge.width(), right = -1, top = badge.height(), bottom = -1;
        for (int y = 0; y < badge.height(); ++y) {
            for (int x = 0; x < badge.width(); ++x) {
                if (isWhite(badge.pixel(x, y))) {
                    left = std::min(left, x), right = std::max(right, x);
                    top = std::min(top, y), bottom = std::max(bottom, y);
                }
            }
        }
        ASSERT_GT(right - left, 10) << letter << ": drawn at all";
        int inner = 0; // ink in the middle half of the box, both ways
        for (int y = top + (bottom - top) / 4; y <= bottom - (bottom - top) / 4; ++y) {
            for (int x = left + (right - left) / 4; x <= right - (right - left) / 4; ++x)
                inner += isWhite(badge.pixel(x, y)) ? 1 : 0;
        }
        EXPECT_GT(inner, 20) << letter;
    }
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
            bool same = true;
            for (int round = 0; round < 5; ++round)
                same = same && render() == expected;
            return same;
        }));
    for (auto& same : threads)
        EXPECT_TRUE(same.get());
}

TEST(IconFile, IconFilesAreDrawnWithinABudgetAndAnythingBeyondItGivesNothing)
{
    TempDir dir;
    const std::string square = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 10 10">)"
                               R"(<rect width="10" height="10" fill="#ff0000"/></svg>)";
    const auto drawn = IconFile::drawSvg(square, 64);
    ASSERT_TRUE(drawn);
    EXPECT_EQ(drawn->pixel(32, 32), (Bitmap::Rgba {255, 0, 0, 255}));
    EXPECT_FALSE(IconFile::drawSvg(square, 1024, {.memory = 1024 * 1024})) << "a 4 MB surface is over 1 MB";
    EXPECT_FALSE(IconFile::drawSvg("<svg", 64)) << "malformed";

    // Thousands of blurred layers over the whole icon: minutes of drawing, ended at the budget.
    std::string slow = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 10 10"><filter id="b">)"
                       R"(<feGaussianBlur stdDeviation="3"/></filter>)";
    for (int layer = 0; layer < 20000; ++layer)
        slow += R"svg(<rect width="10" height="10" fill="#00f" filter="url(#b)"/>)svg";
    EXPECT_FALSE(IconFile::drawSvg(slow + "</svg>", 1024, {.time = std::chrono::milliseconds(500)}));

    writeText(dir / "icon.svg", square);
    EXPECT_EQ(IconFile::load(dir / "icon.svg", 16)->width(), 16);
    writeText(dir / "icon.png", *solidBitmap(48, 48, darkBase).encodePng());
    EXPECT_EQ(IconFile::load(dir / "icon.png", 16)->pixel(0, 0), darkBaseRgba);
    // A PNG that declares 4096 × 4096 pixels is refused before anything is allocated for them.
    std::string wide = *solidBitmap(48, 48, darkBase).encodePng();
    wide.replace(16, 8, bigEndian32(4096) + bigEndian32(4096));
    writeText(dir / "wide.png", wide);
    EXPECT_FALSE(IconFile::load(dir / "wide.png", 16));
    writeText(dir / "big.svg", square);
    fs::resize_file(dir / "big.svg", InstalledApplications::maxIconFileSize + 1);
    EXPECT_FALSE(IconFile::load(dir / "big.svg", 16)) << "over the size cap";
    EXPECT_FALSE(IconFile::load(dir / "missing.png", 16));
}
