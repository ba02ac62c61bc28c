#include "core/building/PlistScreening.hpp"
#include "tests/support/DeepNesting.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

using namespace korvel;
using namespace korvel::test;
using namespace std::string_literals;

namespace {

const std::string tooDeep = "its arrays and dictionaries are nested more than 512 deep";
const std::string notPlain = "a dictionary key is not plain text";

void appendNumber(std::string& bytes, uint64_t value, int size)
{
    for (int shift = 8 * (size - 1); shift >= 0; shift -= 8)
        bytes += static_cast<char>(value >> shift & 0xff);
}

// Binary property lists object by object, as a hostile file may lay them out: references are two bytes, so
// that any object may refer to any other, shared or in a circle. Object 0 is the top.
using Objects = std::vector<std::string>;

std::string array(const std::vector<uint16_t>& references)
{
    std::string bytes;
    if (references.size() < 15) {
        bytes += static_cast<char>(0xA0 | references.size());
    } else {
        bytes += "\xAF\x11"s;
        appendNumber(bytes, references.size(), 2);
    }
    for (const uint16_t reference : references)
        appendNumber(bytes, reference, 2);
    return bytes;
}

std::string dictionary(uint16_t key, uint16_t value)
{
    std::string bytes = "\xD1";
    appendNumber(bytes, key, 2);
    appendNumber(bytes, value, 2);
    return bytes;
}

std::string binary(const Objects& objects)
{
    std::string bytes = "bplist00";
    std::string offsets;
    for (const std::string& object : objects) {
        appendNumber(offsets, bytes.size(), 4);
        bytes += object;
    }
    const uint64_t table = bytes.size();
    bytes += offsets + std::string(6, '\0') + "\x04\x02"s;
    appendNumber(bytes, objects.size(), 8);
    appendNumber(bytes, 0, 8);
    appendNumber(bytes, table, 8);
    return bytes;
}

// `length` arrays each holding the next; the last holds `last` when given. Returns the first.
uint16_t chain(Objects& objects, size_t length, std::optional<uint16_t> last = std::nullopt)
{
    const auto first = static_cast<uint16_t>(objects.size());
    for (size_t i = 0; i < length; ++i) {
        const auto next = static_cast<uint16_t>(objects.size() + 1);
        objects.push_back(i + 1 < length ? array({next}) : last ? array({*last}) : array({}));
    }
    return first;
}

// The top holds a chain of `shared` arrays directly and again at the end of a chain of `path` arrays: reached
// shallow first, then deep.
std::string sharedBelow(size_t path, size_t shared)
{
    Objects objects(1);
    const uint16_t common = chain(objects, shared);
    const uint16_t deep = chain(objects, path, common);
    objects[0] = array({common, deep});
    return binary(objects);
}

TEST(PlistScreening, NestingIsCountedAlongEveryPathThroughSharedObjects)
{
    Objects circle(1);
    const uint16_t first = chain(circle, 2, 1);
    circle[0] = array({first});
    const std::vector<std::tuple<std::string, std::string, std::optional<std::string>>> cases = {
        {"binary, 512 deep", DeepNesting::binaryPlist(512), std::nullopt},
        {"binary, 513 deep", DeepNesting::binaryPlist(513), tooDeep},
        {"XML, 512 deep", DeepNesting::xmlPlist(512), std::nullopt},
        {"XML, 513 deep", DeepNesting::xmlPlist(513), tooDeep},
        {"XML dictionaries, 513 deep", DeepNesting::xmlPlist(513, true), tooDeep},
        {"shared, 400 deep on its longer path", sharedBelow(100, 300), std::nullopt},
        {"shared, 600 deep on its longer path", sharedBelow(300, 300), tooDeep},
        {"shared, reached again one level too deep", sharedBelow(212, 300), tooDeep},
        {"a circle", binary(circle), tooDeep},
    };
    for (const auto& [what, bytes, problem] : cases)
        EXPECT_EQ(PlistScreening::problem(bytes), problem) << what;

    // In XML only the elements count, not what a comment or a character section says.
    const std::string xml = "<plist><array><!-- <array><array> --><![CDATA[<array><array>]]><array/>"
                            "<array><string>a</string></array></array></plist>";
    EXPECT_EQ(PlistScreening::problem(xml, 2), std::nullopt);
    EXPECT_EQ(PlistScreening::problem(xml, 1), "its arrays and dictionaries are nested more than 1 deep");
}

TEST(PlistScreening, BinaryDictionaryKeysArePlainText)
{
    const std::vector<std::tuple<std::string, std::string, std::optional<std::string>>> keys = {
        {"ASCII", "\x54name"s, std::nullopt},
        {"UTF-16", "\x62\x00\xE9\x26\x3A"s, std::nullopt},
        {"a NUL in ASCII", "\x53\x61\x00\x62"s, notPlain},
        {"a byte above 0x7F in ASCII", "\x53\x61\xE9\x62"s, notPlain},
        {"a zero in UTF-16", "\x62\x00\x61\x00\x00"s, notPlain},
        {"a number", "\x10\x07"s, notPlain},
    };
    for (const auto& [what, key, problem] : keys) {
        const std::string value = "\x51x";
        EXPECT_EQ(PlistScreening::problem(binary({dictionary(1, 2), key, value})), problem) << what;
        // The same key one level down.
        EXPECT_EQ(PlistScreening::problem(binary({array({1}), dictionary(2, 3), key, value})), problem) << what;
    }
}

} // namespace
