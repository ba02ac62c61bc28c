#include "core/building/IcnsFile.hpp"

#include "tests/support/SolidBitmap.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <random>

using namespace korvel;
using namespace korvel::test;

namespace {

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
std::string ourFile()
{
    std::vector<Bitmap> images;
    for (const int side : {16, 32, 64, 128, 256, 512, 1024})
        images.push_back(solidBitmap(side, side, 0xff000000u | static_cast<std::uint32_t>(side & 0xff)));
    return IcnsFile::encode(images).value();
}

} // namespace

TEST(IcnsFile, OurFileHoldsEverySizeAndTheLargestIsTheBiggest)
{
    TempDir dir;
    const std::string file = ourFile();
    EXPECT_EQ(file.substr(0, 8), "icns" + bigEndian32(static_cast<std::uint32_t>(file.size())));
    for (const char* type : {"icp4", "icp5", "icp6", "ic07", "ic08", "ic09", "ic10"})
        EXPECT_NE(file.find(type), std::string::npos) << type;
    const auto images = IcnsFile::decodeAll(file);
    ASSERT_EQ(images.size(), 7u);
    for (const Bitmap& image : images) {
        EXPECT_EQ(image.height(), image.width());
        EXPECT_EQ(image.pixel(0, 0).blue, image.width() & 0xff);
    }
    writeText(dir / "Icon.icns", file);
    EXPECT_EQ(IcnsFile::largestImageInFile(dir / "Icon.icns"), images.back());
    EXPECT_EQ(images.back().width(), 1024);
    EXPECT_FALSE(IcnsFile::largestImageInFile(dir / "missing.icns").has_value());
    EXPECT_FALSE(IcnsFile::largestImageInFile(dir.path()).has_value());
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
    const std::string good = ourFile();
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

TEST(IcnsFile, RandomDamageNeverCrashes)
{
    const std::string good = container(
        element("is32", runLengthPlane(16, 30, 1, 2) + runLengthPlane(16, 30, 3, 4) + runLengthPlane(16, 0, 0, 5)) +
        element("s8mk", std::string(256, '\x40')) +
        element("icp4", solidBitmap(16, 16, 0xff334455u).encodePng().value()));
    ASSERT_EQ(IcnsFile::decodeAll(good).size(), 2u);
    std::mt19937 random(20240611);
    int decoded = 0;
    for (int round = 0; round < 1000; ++round) {
        std::string damaged = good;
        for (int flips = 1 + round % 4; flips > 0; --flips)
            damaged[random() % damaged.size()] = static_cast<char>(random());
        for (const Bitmap& image : IcnsFile::decodeAll(damaged))
            decoded += image.width() == 16 ? 1 : 0;
        if (const auto image = IcnsFile::largestImage(damaged)) {
            EXPECT_EQ(image->width(), 16);
        }
    }
    EXPECT_GT(decoded, 0);
}
