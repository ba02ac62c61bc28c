#include "core/building/IconRenderer.hpp"

#include "core/building/IcnsFile.hpp"
#include "core/support/FileError.hpp"
#include "tests/support/DrawingCacheCleanup.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <cairo.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

extern char** environ;

using namespace korvel;
using korvel::test::readText;
using korvel::test::TempDir;
using korvel::test::writeText;

namespace {

[[maybe_unused]] const auto* const cleanup = ::testing::AddGlobalTestEnvironment(new test::DrawingCacheCleanup);

constexpr Rgb blue = {0.18, 0.48, 0.92};
constexpr Rgb green = {0.20, 0.66, 0.33};
constexpr std::uint32_t darkBase = 0xff203040u;
const Bitmap::Rgba darkBaseRgba = {0x20, 0x30, 0x40, 255};

Bitmap solid(int width, int height, std::uint32_t argb)
{
    Bitmap image(width, height);
    for (int i = 0; i < width * height; ++i)
        image.pixels()[i] = argb;
    return image;
}

// The badge of an icon of side S in pixel coordinates measured from the top, as the icon geometry lays it out.
struct Badge
{
    double left;
    double diameter;
    double centerX;
    double centerY;
    double discDiameter;
};

Badge badgeOf(int side)
{
    const double diameter = 0.5 * side;
    const double margin = 0.04 * side;
    const double left = side - diameter - margin;
    const double ring = side >= 64 ? 0.06 * diameter : 0;
    return {left, diameter, left + diameter / 2, side - margin - diameter / 2, diameter - 2 * ring};
}

::testing::AssertionResult hasColor(Bitmap::Rgba actual, Rgb expected, int tolerance = 1)
{
    const auto channel = [](double value) { return static_cast<int>(std::lround(value * 255)); };
    const bool close = actual.alpha == 255 && std::abs(actual.red - channel(expected.red)) <= tolerance &&
        std::abs(actual.green - channel(expected.green)) <= tolerance &&
        std::abs(actual.blue - channel(expected.blue)) <= tolerance;
    if (close)
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

bool insideDisc(const Badge& badge, int x, int y)
{
    return std::hypot(x + 0.5 - badge.centerX, y + 0.5 - badge.centerY) < badge.discDiameter / 2 - 2;
}

// Columns of row y (from the top) inside the disc that are mostly white: the extent of the letter's ink.
std::pair<int, int> whiteSpanOfRow(const Bitmap& image, const Badge& badge, int y)
{
    int first = -1;
    int last = -1;
    for (int x = 0; x < image.width(); ++x) {
        const auto pixel = image.pixel(x, y);
        if (insideDisc(badge, x, y) && pixel.alpha == 255 && pixel.red >= 200 && pixel.green >= 200 &&
            pixel.blue >= 200) {
            first = first < 0 ? x : first;
            last = x;
        }
    }
    return {first, last};
}

int whitePixelsInside(const Bitmap& image, const Badge& badge)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (insideDisc(badge, x, y) && isWhite(image.pixel(x, y)))
                ++count;
        }
    }
    return count;
}

// The letter's font metrics at a size, read independently through cairo.
struct Metrics
{
    cairo_font_extents_t font;
    cairo_text_extents_t text;
};

Metrics metricsOf(const char* text, double size)
{
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cairo = cairo_create(surface);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_set_font_options(cairo, options);
    cairo_select_font_face(cairo, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cairo, size);
    Metrics metrics {};
    cairo_font_extents(cairo, &metrics.font);
    cairo_text_extents(cairo, text, &metrics.text);
    cairo_font_options_destroy(options);
    cairo_destroy(cairo);
    cairo_surface_destroy(surface);
    return metrics;
}

int run(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(IconRenderer, BadgeGeometryAt1024)
{
    const auto icon = IconRenderer::appIcon(solid(64, 64, darkBase), "I", blue, 1024);
    ASSERT_TRUE(icon.has_value());
    ASSERT_EQ(icon->width(), 1024);
    ASSERT_EQ(icon->height(), 1024);

    const Badge badge = badgeOf(1024);
    EXPECT_DOUBLE_EQ(badge.left, 471.04);
    EXPECT_DOUBLE_EQ(badge.discDiameter, 450.56);

    // The base fills the square up to the corners.
    for (const auto& [x, y] : std::vector<std::pair<int, int>> {{0, 0}, {1023, 0}, {0, 1023}, {1023, 1023}})
        EXPECT_EQ(icon->pixel(x, y), darkBaseRgba) << x << "," << y;
    EXPECT_EQ(at(*icon, badge.left - 3, badge.centerY), darkBaseRgba);
    EXPECT_EQ(at(*icon, badge.centerX, badge.centerY + badge.diameter / 2 + 3), darkBaseRgba);

    // A white ring just inside the badge on its left and top, the disc's colour beyond it.
    EXPECT_TRUE(isWhite(at(*icon, badge.left + 0.03 * badge.diameter, badge.centerY)));
    EXPECT_TRUE(isWhite(at(*icon, badge.centerX, badge.centerY - badge.diameter / 2 + 0.03 * badge.diameter)));
    EXPECT_TRUE(hasColor(at(*icon, badge.left + 0.06 * badge.diameter + 4, badge.centerY), blue));
    // The disc around the narrow letter.
    EXPECT_TRUE(hasColor(at(*icon, badge.centerX - 0.25 * badge.discDiameter, badge.centerY), blue));
    EXPECT_TRUE(hasColor(at(*icon, badge.centerX + 0.25 * badge.discDiameter, badge.centerY), blue));
    EXPECT_TRUE(hasColor(at(*icon, badge.centerX, badge.centerY - 0.4 * badge.discDiameter), blue));
    // The letter is white at the disc's centre.
    EXPECT_TRUE(isWhite(at(*icon, badge.centerX, badge.centerY)));
}

TEST(IconRenderer, RingOnlyFrom64Pixels)
{
    const Bitmap base = solid(16, 16, darkBase);
    for (const int size : IconRenderer::icnsSizes) {
        const auto icon = IconRenderer::appIcon(base, "I", green, size);
        ASSERT_TRUE(icon.has_value());
        ASSERT_EQ(icon->width(), size);
        const Badge badge = badgeOf(size);
        if (size >= 64) {
            EXPECT_TRUE(isWhite(at(*icon, badge.left + 0.03 * badge.diameter, badge.centerY))) << size;
        } else {
            // The disc reaches the badge's edge: the first whole pixel inside it has the disc's colour.
            EXPECT_TRUE(hasColor(at(*icon, std::ceil(badge.left), badge.centerY), green)) << size;
        }
    }
}

TEST(IconRenderer, TransparentBaseStaysTransparentOutsideTheBadge)
{
    for (const Bitmap& base : {Bitmap(), Bitmap(10, 10)}) {
        const auto icon = IconRenderer::appIcon(base, "W", blue, 1024);
        ASSERT_TRUE(icon.has_value());
        const Badge badge = badgeOf(1024);
        EXPECT_EQ(icon->pixel(10, 10).alpha, 0);
        EXPECT_EQ(icon->pixel(1020, 1020).alpha, 0);
        EXPECT_EQ(at(*icon, badge.left + 4, badge.centerY - badge.diameter / 2 + 4).alpha, 0); // badge corner
        EXPECT_TRUE(isWhite(at(*icon, badge.left + 0.03 * badge.diameter, badge.centerY)));
    }
}

TEST(IconRenderer, NonSquareBaseIsStretched)
{
    Bitmap base(2, 1);
    base.pixels()[0] = 0xffff0000u;
    base.pixels()[1] = 0xff0000ffu;
    const auto icon = IconRenderer::appIcon(base, "A", green, 256);
    ASSERT_TRUE(icon.has_value());
    EXPECT_EQ(icon->pixel(0, 0), (Bitmap::Rgba {255, 0, 0, 255}));
    EXPECT_EQ(icon->pixel(0, 255), (Bitmap::Rgba {255, 0, 0, 255}));
    EXPECT_EQ(icon->pixel(255, 0), (Bitmap::Rgba {0, 0, 255, 255}));
    EXPECT_EQ(icon->pixel(255, 255), (Bitmap::Rgba {0, 0, 255, 255}));
}

TEST(IconRenderer, LargeReductionsAverageTheBase)
{
    // Stripes half an output pixel wide must average to grey; a filter that looks at only part of each
    // pixel's area (cairo's stops at 16 source pixels) leaves them black or white.
    for (const int size : {16, 32}) {
        const int stripe = 512 / size;
        Bitmap base(1024, 1024);
        for (int y = 0; y < 1024; ++y) {
            for (int x = 0; x < 1024; ++x)
                base.pixels()[y * 1024 + x] = ((x + stripe / 2) / stripe) % 2 ? 0xffffffffu : 0xff000000u;
        }
        const auto icon = IconRenderer::appIcon(base, "A", green, size);
        ASSERT_TRUE(icon.has_value());
        for (const auto& [x, y] : std::vector<std::pair<int, int>> {{0, 0}, {1, 2}, {3, 1}, {size / 4, size / 4}}) {
            const auto pixel = icon->pixel(x, y);
            EXPECT_NEAR(pixel.red, 128, 8) << size << " at " << x << "," << y;
            EXPECT_EQ(pixel.alpha, 255);
        }
    }
}

TEST(IconRenderer, LetterSitsWhereTheFontMetricsPutIt)
{
    const auto icon = IconRenderer::appIcon(Bitmap(), "I", blue, 1024);
    ASSERT_TRUE(icon.has_value());
    const Badge badge = badgeOf(1024);
    const Metrics metrics = metricsOf("I", 0.6 * badge.discDiameter);

    // y upwards: box bottom = centre − (ascender − descender) / 2 + 0.1 × descender, baseline one descent above.
    const double centerUp = 1024 - badge.centerY;
    const double descent = metrics.font.descent;
    const double baselineUp = centerUp - (metrics.font.ascent + descent) / 2 - 0.1 * descent + descent;
    const double baseline = 1024 - baselineUp;
    const double inkTop = baseline + metrics.text.y_bearing;

    const int column = static_cast<int>(badge.centerX);
    int firstWhite = -1;
    int lastWhite = -1;
    for (int y = 0; y < 1024; ++y) {
        if (insideDisc(badge, column, y) && isWhite(icon->pixel(column, y))) {
            firstWhite = firstWhite < 0 ? y : firstWhite;
            lastWhite = y;
        }
    }
    EXPECT_NEAR(firstWhite, inkTop, 2);
    EXPECT_NEAR(lastWhite + 1, baseline, 2);

    // Centred by the advance: the ink's middle is where the metrics put it.
    const double origin = badge.centerX - metrics.text.x_advance / 2;
    const double inkMiddle = origin + metrics.text.x_bearing + metrics.text.width / 2;
    const auto [left, right] = whiteSpanOfRow(*icon, badge, static_cast<int>(badge.centerY));
    EXPECT_NEAR((left + right + 1) / 2.0, inkMiddle, 2);
}

TEST(IconRenderer, WideAndUnusualLetters)
{
    const Badge badge = badgeOf(1024);
    const int row = static_cast<int>(badge.centerY);
    const auto single = IconRenderer::appIcon(Bitmap(), "S", blue, 1024);
    const auto twice = IconRenderer::appIcon(Bitmap(), "SS", blue, 1024);
    const auto narrow = IconRenderer::appIcon(Bitmap(), "I", blue, 1024);
    ASSERT_TRUE(single && twice && narrow);
    const auto [singleLeft, singleRight] = whiteSpanOfRow(*single, badge, row);
    const auto [twiceLeft, twiceRight] = whiteSpanOfRow(*twice, badge, row);
    const auto [narrowLeft, narrowRight] = whiteSpanOfRow(*narrow, badge, row);
    // Not scaled down to fit, and centred on one line.
    EXPECT_GT(twiceRight - twiceLeft, 1.8 * (singleRight - singleLeft));
    EXPECT_GT(singleRight - singleLeft, narrowRight - narrowLeft);
    EXPECT_NEAR((twiceLeft + twiceRight) / 2.0, badge.centerX, 4);

    const auto question = IconRenderer::appIcon(Bitmap(), "?", blue, 1024);
    const auto accented = IconRenderer::appIcon(Bitmap(), "É", blue, 1024);
    const auto blank = IconRenderer::appIcon(Bitmap(), "", blue, 1024);
    ASSERT_TRUE(question && accented && blank);
    EXPECT_GT(whitePixelsInside(*question, badge), 5000);
    EXPECT_GT(whitePixelsInside(*accented, badge), 5000);
    EXPECT_EQ(whitePixelsInside(*blank, badge), 0);
}

TEST(IconRenderer, AppIconFailsOnlyWhenNoBitmapCanBeMade)
{
    EXPECT_FALSE(IconRenderer::appIcon(Bitmap(), "A", blue, 0).has_value());
    EXPECT_FALSE(IconRenderer::appIcon(Bitmap(), "A", blue, -16).has_value());
    EXPECT_FALSE(IconRenderer::appIcon(Bitmap(), "A", blue, Bitmap::maxSide + 1).has_value());
    EXPECT_FALSE(IconRenderer::appIcon(Bitmap(), "\xff\xfe", blue, 64).has_value());
    EXPECT_TRUE(IconRenderer::appIcon(Bitmap(), "A", blue, 1).has_value());
}

TEST(IconRenderer, WriteICNSIsReadableByUsAndByIcns2png)
{
    TempDir dir;
    const Bitmap base = solid(300, 200, darkBase);
    const auto file = dir / "ProfileIcon.icns";
    IconRenderer::writeICNS(base, "W", blue, file);

    const std::string bytes = readText(file);
    const auto images = IcnsFile::decodeAll(bytes);
    ASSERT_EQ(images.size(), IconRenderer::icnsSizes.size());
    for (size_t i = 0; i < images.size(); ++i)
        EXPECT_EQ(images[i].width(), IconRenderer::icnsSizes[i]);
    const auto expected = IconRenderer::appIcon(base, "W", blue, 1024);
    // Opaque pixels survive PNG unchanged.
    EXPECT_EQ(IcnsFile::largestImage(bytes), expected);

    // Rendered samples for a person to look at.
    writeText(dir / "icon-1024.png", expected->encodePng().value());
    writeText(dir / "badge-16@2x.png", IconRenderer::badge("W", blue, 16).render(2).encodePng().value());
    EXPECT_EQ(Bitmap::decodePng(readText(dir / "badge-16@2x.png"))->width(), 32);

    const auto extracted = dir / "extracted";
    std::filesystem::create_directory(extracted);
    ASSERT_EQ(run({"icns2png", "-x", "-o", extracted.string(), file.string()}), 0);
    for (const int size : {256, 512, 1024}) {
        const std::string name = "ProfileIcon_" + std::to_string(size) + "x" + std::to_string(size) + "x32.png";
        ASSERT_TRUE(std::filesystem::exists(extracted / name)) << name;
        const auto png = Bitmap::decodePng(readText(extracted / name));
        ASSERT_TRUE(png.has_value()) << name;
        EXPECT_EQ(png->width(), size);
        EXPECT_EQ(png->height(), size);
        if (size == 1024) {
            EXPECT_EQ(*png, *expected);
        }
    }

    // A second write replaces the file and leaves no temporary file behind.
    IconRenderer::writeICNS(base, "Q", green, file);
    EXPECT_NE(readText(file), bytes);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 4);
}

TEST(IconRenderer, WriteICNSFailureNamesTheDestination)
{
    TempDir dir;
    writeText(dir / "file", "x");
    std::filesystem::create_directories(dir / "folder/inside");
    for (const auto& destination : {dir / "file/ProfileIcon.icns", dir / "missing/ProfileIcon.icns", dir / "folder"}) {
        try {
            IconRenderer::writeICNS(Bitmap(), "A", blue, destination);
            ADD_FAILURE() << destination;
        } catch (const FileError& error) {
            EXPECT_EQ(error.kind(), FileError::Kind::WriteUnknown);
            EXPECT_EQ(error.path(), destination);
            EXPECT_NE(std::string(error.what()).find(destination.string()), std::string::npos);
        }
    }
}

TEST(IconRenderer, BadgeRendersItsRecipeAtAnyScale)
{
    const BadgeImage badge = IconRenderer::badge("I", blue, 16);
    EXPECT_EQ(badge.letter, "I");
    EXPECT_EQ(badge.color, blue);
    EXPECT_EQ(badge.size, 16);

    const Bitmap one = badge.render(1);
    const Bitmap two = badge.render(2);
    EXPECT_EQ(one.width(), 16);
    EXPECT_EQ(one.height(), 16);
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
    EXPECT_EQ(two.pixel(0, 0).alpha, 0);
    EXPECT_EQ(two.pixel(31, 31).alpha, 0);
    EXPECT_TRUE(isWhite(two.pixel(16, 16)));
}

TEST(IconRenderer, PlaceholderBaseIsANeutralRoundedSquare)
{
    const Bitmap base = IconRenderer::placeholderBase();
    ASSERT_EQ(base.width(), 1024);
    ASSERT_EQ(base.height(), 1024);
    EXPECT_EQ(base.pixel(0, 0).alpha, 0);
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
                mismatches[t] += IconRenderer::appIcon(base, "W", green, 256) != icon ? 1 : 0;
                mismatches[t] += IconRenderer::badge("É", green, 16).render(2) != badge ? 1 : 0;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}
