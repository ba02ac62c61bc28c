#include "core/system/AsarArchive.hpp"
#include "tests/core/system/LargestAllocation.hpp"
#include "tests/support/Fifo.hpp"
#include "tests/support/StandInLinuxClaude.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

using namespace korvel;
using namespace korvel::test;

namespace {

std::string withWord(std::string bytes, size_t offset, std::uint32_t value)
{
    for (size_t i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<char>(value >> (8 * i) & 0xff);
    return bytes;
}

TEST(AsarArchive, ReadsMembersFromTheArchiveAndBesideIt)
{
    TempDir dir;
    const auto archive = dir / "app.asar";
    const std::string index = R"({"files": {"package.json": {"size": 18, "offset": "0"},
        "a": {"files": {"b": {"files": {"deep.txt": {"size": 4, "offset": "18"}}}}},
        "empty": {"size": 0, "offset": "22"},
        "native.node": {"size": 6, "unpacked": true}}})";
    writeText(archive,
        StandInLinuxClaude::asarWithIndex(index,
            R"({"version": "1.2"})"
            "deep"));
    writeText(dir / "app.asar.unpacked/native.node", "native");

    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"package.json", R"({"version": "1.2"})"},
        {"a/b/deep.txt", "deep"},
        {"empty", ""},
        {"native.node", "native"},
        {"a/b", std::nullopt}, // a folder
        {"a/b/deep.txt/more", std::nullopt},
        {"deep.txt", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [member, bytes] : cases)
        EXPECT_EQ(AsarArchive::read(archive, member), bytes) << member;
    EXPECT_EQ(AsarArchive::packageVersion(archive), "1.2");
    EXPECT_EQ(AsarArchive::read(archive, "native.node", 5), std::nullopt) << "the limit holds beside the archive too";
}

TEST(AsarArchive, WhatAnArchiveDeclaresNeverDecidesWhatIsAllocated)
{
    TempDir dir;
    const auto archive = dir / "app.asar";
    const std::string big(3 << 20, 'b');
    const std::string good = StandInLinuxClaude::asarWithIndex(
        R"({"files": {"big": {"size": 3145728, "offset": "0"}, "huge": {"size": 1073741824, "offset": "0"},
            "odd": {"size": 3, "offset": "x"}, "far": {"size": 3, "offset": "99999999"},
            "signed": {"size": -3, "offset": "0"}, "text": {"size": "3", "offset": "0"}}})",
        big);
    writeText(archive, good);
    EXPECT_EQ(AsarArchive::read(archive, "big"), std::nullopt) << "larger than the limit";
    EXPECT_EQ(AsarArchive::read(archive, "big", 4 << 20), big);
    for (const char* member : {"huge", "odd", "far", "signed", "text"}) {
        std::optional<std::string> read = "unset";
        EXPECT_LT(largestAllocation([&] { read = AsarArchive::read(archive, member); }), 2u << 20) << member;
        EXPECT_EQ(read, std::nullopt) << member;
    }

    // Headers that do not hold together: the first pickle's size, an index pickle too small for its text (the
    // data would start inside the index), an index far larger than any app's, a file cut short.
    const std::vector<std::pair<std::string, std::string>> broken = {
        {"header size", withWord(good, 0, 8)},
        {"index pickle smaller than its text", withWord(good, 4, 8)},
        {"huge index", withWord(withWord(good, 4, (200u << 20) + 8), 12, 200u << 20)},
        {"cut short", good.substr(0, 12)},
        {"empty", ""},
    };
    for (const auto& [what, bytes] : broken) {
        writeText(archive, bytes);
        std::optional<std::string> read = "unset";
        EXPECT_LT(largestAllocation([&] { read = AsarArchive::read(archive, "big", 4 << 20); }), 2u << 20) << what;
        EXPECT_EQ(read, std::nullopt) << what;
    }
}

TEST(AsarArchive, PackageVersionIsANonEmptyString)
{
    TempDir dir;
    const auto archive = dir / "app.asar";
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {R"({"name": "claude-desktop", "version": "1.46388.2"})", "1.46388.2"},
        {R"({"version": ""})", std::nullopt},
        {R"({"version": 3})", std::nullopt},
        {R"({"name": "claude-desktop"})", std::nullopt},
        {R"(["version", "1.0"])", std::nullopt},
        {"{\"version\": \"1.0\"", std::nullopt},
    };
    for (const auto& [package, version] : cases) {
        writeText(archive, StandInLinuxClaude::asar({{"package.json", package}}));
        EXPECT_EQ(AsarArchive::packageVersion(archive), version) << package;
    }
    EXPECT_EQ(AsarArchive::packageVersion(dir / "missing.asar"), std::nullopt);
    EXPECT_EQ(AsarArchive::packageVersion(dir.path()), std::nullopt) << "a folder";
    Fifo::make(dir / "pipe.asar");
    EXPECT_TRUE(Fifo::readsWithoutWaiting(
        dir / "pipe.asar", [&] { EXPECT_EQ(AsarArchive::packageVersion(dir / "pipe.asar"), std::nullopt); }));
}

} // namespace
