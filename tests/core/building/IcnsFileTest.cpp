#include "core/building/IcnsFile.hpp"

#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>

using namespace korvel;
using korvel::test::TempDir;

namespace {

constexpr std::array<int, 7> ourSides = {16, 32, 64, 128, 256, 512, 1024};

Bitmap solid(int side, std::uint32_t argb)
{
    Bitmap image(side, side);
    for (int i = 0; i < side * side; ++i)
        image.pixels()[i] = argb;
    return image;
}

std::string bigEndian32(std::uint32_t value)
{
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xff));
    return out;
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
    int left = side * side;
    for (int run = runLength; run > 0;) {
        const int count = std::min(run, 130);
        out.push_back(static_cast<char>(count + 125));
        out.push_back(static_cast<char>(runValue));
        run -= count;
        left -= count;
    }
    std::uint8_t literal = firstLiteral;
    while (left > 0) {
        const int count = std::min(left, 128);
        out.push_back(static_cast<char>(count - 1));
        for (int i = 0; i < count; ++i)
            out.push_back(static_cast<char>(literal++));
        left -= count;
    }
    return out;
}

std::string ourFile()
{
    std::vector<Bitmap> images;
    for (const int side : ourSides)
        images.push_back(solid(side, 0xff000000u | static_cast<std::uint32_t>(side)));
    return IcnsFile::encode(images).value();
}

} // namespace

TEST(IcnsFile, OurFileHoldsEverySizeAndTheLargestIsTheBiggest)
{
    const std::string file = ourFile();
    EXPECT_EQ(file.substr(0, 4), "icns");
    EXPECT_EQ(file.substr(4, 4), bigEndian32(static_cast<std::uint32_t>(file.size())));
    for (const char* type : {"icp4", "icp5", "icp6", "ic07", "ic08", "ic09", "ic10"})
        EXPECT_NE(file.find(type), std::string::npos) << type;

    const auto images = IcnsFile::decodeAll(file);
    ASSERT_EQ(images.size(), ourSides.size());
    for (size_t i = 0; i < images.size(); ++i) {
        EXPECT_EQ(images[i].width(), ourSides[i]);
        EXPECT_EQ(images[i].height(), ourSides[i]);
        // The blue channel tells which source image this was (1024 wraps to 0).
        EXPECT_EQ(images[i].pixel(0, 0).blue, ourSides[i] & 0xff);
    }
    const auto largest = IcnsFile::largestImage(file);
    ASSERT_TRUE(largest.has_value());
    EXPECT_EQ(largest->width(), 1024);
    EXPECT_EQ(*largest, images.back());
}

TEST(IcnsFile, EncodeRefusesImagesItCannotFileUnderATypeOnce)
{
    EXPECT_FALSE(IcnsFile::encode({Bitmap(32, 16)}).has_value());
    EXPECT_FALSE(IcnsFile::encode({Bitmap(48, 48)}).has_value());
    EXPECT_FALSE(IcnsFile::encode({Bitmap()}).has_value());
    EXPECT_FALSE(IcnsFile::encode({Bitmap(16, 16), Bitmap(16, 16)}).has_value());
    EXPECT_TRUE(IcnsFile::encode({Bitmap(16, 16), Bitmap(1024, 1024)}).has_value());
}

TEST(IcnsFile, ReadsClassicImagesWithTheirMasks)
{
    // 16 × 16 run-length RGB with a mask; 32 × 32 uncompressed without one; 128 × 128 it32 with its prefix.
    const std::string small =
        runLengthPlane(16, 100, 200, 0) + runLengthPlane(16, 256, 50, 0) + runLengthPlane(16, 256, 60, 0);
    std::string mask(256, '\xff');
    mask[0] = static_cast<char>(0x80);
    mask[255] = 0;
    std::string raw;
    for (int i = 0; i < 32 * 32; ++i)
        raw += std::string("\0\x0a\x14\x1e", 4);
    const std::string large = std::string(4, '\0') + runLengthPlane(128, 16384, 90, 0) +
        runLengthPlane(128, 16000, 91, 7) + runLengthPlane(128, 16384, 92, 0);

    const std::string file = container(element("is32", small) + element("s8mk", mask) + element("il32", raw) +
        element("it32", large) + element("TOC ", "ignored"));
    const auto images = IcnsFile::decodeAll(file);
    ASSERT_EQ(images.size(), 3u);

    const Bitmap& first = images[0];
    ASSERT_EQ(first.width(), 16);
    EXPECT_EQ(first.pixel(0, 0).alpha, 0x80);
    EXPECT_NEAR(first.pixel(0, 0).red, 200, 1);
    EXPECT_NEAR(first.pixel(0, 0).green, 50, 1);
    EXPECT_EQ(first.pixel(4, 6), (Bitmap::Rgba {0, 50, 60, 255})); // pixel 100: the first literal byte
    EXPECT_EQ(first.pixel(15, 15).alpha, 0);

    EXPECT_EQ(images[1].width(), 32);
    EXPECT_EQ(images[1].pixel(31, 31), (Bitmap::Rgba {10, 20, 30, 255}));

    EXPECT_EQ(images[2].width(), 128);
    EXPECT_EQ(images[2].pixel(0, 0), (Bitmap::Rgba {90, 91, 92, 255}));
    EXPECT_EQ(images[2].pixel(127, 127), (Bitmap::Rgba {90, (7 + 383) % 256, 92, 255}));

    const auto largest = IcnsFile::largestImage(file);
    ASSERT_TRUE(largest.has_value());
    EXPECT_EQ(largest->width(), 128);
}

TEST(IcnsFile, ReadsArgbAndPrefersThePngOfTheLargestSide)
{
    const std::string argb = "ARGB" + runLengthPlane(16, 256, 255, 0) + runLengthPlane(16, 256, 1, 0) +
        runLengthPlane(16, 256, 2, 0) + runLengthPlane(16, 256, 3, 0);
    const std::string png256 = solid(256, 0xff00ff00u).encodePng().value();
    const std::string jpeg2000 = std::string("\0\0\0\x0cjP  \r\n\x87\n", 12) + std::string(100, 'j');

    const std::string file = container(element("ic04", argb) + element("ic10", jpeg2000) + element("ic13", png256) +
        element("it32", std::string(4, '\0') + "short"));
    const auto images = IcnsFile::decodeAll(file);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].pixel(8, 8), (Bitmap::Rgba {1, 2, 3, 255}));

    // The 1024 element holds JPEG 2000 and is skipped; the 256 PNG wins over the 16 ARGB image.
    const auto largest = IcnsFile::largestImage(file);
    ASSERT_TRUE(largest.has_value());
    EXPECT_EQ(largest->width(), 256);
    EXPECT_EQ(largest->pixel(3, 3), (Bitmap::Rgba {0, 255, 0, 255}));
}

TEST(IcnsFile, MalformedContainersYieldNothing)
{
    const std::string good = ourFile();
    const auto nothing = [](std::string_view data) {
        return IcnsFile::decodeAll(data).empty() && !IcnsFile::largestImage(data).has_value();
    };
    EXPECT_TRUE(nothing(""));
    EXPECT_TRUE(nothing("icns"));
    EXPECT_TRUE(nothing(std::string("icns\0\0\0\x04", 8)));
    EXPECT_TRUE(nothing("ICNS" + good.substr(4)));

    // Truncated: the header's length now runs past the end.
    for (size_t length : {size_t(7), size_t(8), size_t(12), size_t(20), good.size() / 2, good.size() - 1})
        EXPECT_TRUE(nothing(good.substr(0, length))) << length;
    // Truncated with a consistent header: the last element runs past the end.
    std::string cut = good.substr(0, good.size() - 100);
    cut.replace(4, 4, bigEndian32(static_cast<std::uint32_t>(cut.size())));
    EXPECT_TRUE(nothing(cut));

    // Element lengths of zero, shorter than a header, and far beyond the file.
    for (std::uint32_t length : {0u, 7u, 0xffffffffu}) {
        std::string broken = good;
        broken.replace(12, 4, bigEndian32(length));
        EXPECT_TRUE(nothing(broken)) << length;
    }
    // A sound container whose only image is not a decodable PNG.
    std::string png = solid(64, 0xff102030u).encodePng().value();
    png.resize(png.size() / 2);
    EXPECT_TRUE(nothing(container(element("icp6", png))));
    EXPECT_TRUE(nothing(container(element("ic08", ""))));
    EXPECT_TRUE(nothing(container(element("is32", std::string(10, '\x7f')))));
}

TEST(IcnsFile, RandomDamageNeverCrashes)
{
    const std::string good = container(
        element("is32", runLengthPlane(16, 30, 1, 2) + runLengthPlane(16, 30, 3, 4) + runLengthPlane(16, 0, 0, 5)) +
        element("s8mk", std::string(256, '\x40')) + element("icp4", solid(16, 0xff334455u).encodePng().value()));
    ASSERT_EQ(IcnsFile::decodeAll(good).size(), 2u);

    std::mt19937 random(20240611);
    std::uniform_int_distribution<size_t> position(0, good.size() - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    int decoded = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string damaged = good;
        for (int flips = 1 + round % 4; flips > 0; --flips)
            damaged[position(random)] = static_cast<char>(byte(random));
        for (const Bitmap& image : IcnsFile::decodeAll(damaged))
            decoded += image.width() == 16 ? 1 : 0;
        if (const auto image = IcnsFile::largestImage(damaged)) {
            EXPECT_EQ(image->width(), 16);
        }
    }
    EXPECT_GT(decoded, 0);
}

TEST(IcnsFile, LargestImageOfAFile)
{
    TempDir dir;
    korvel::test::writeText(dir / "Icon.icns", ourFile());
    const auto image = IcnsFile::largestImageInFile(dir / "Icon.icns");
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width(), 1024);
    EXPECT_FALSE(IcnsFile::largestImageInFile(dir / "missing.icns").has_value());
    EXPECT_FALSE(IcnsFile::largestImageInFile(dir.path()).has_value());
}
