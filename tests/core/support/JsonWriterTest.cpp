#include "core/support/JsonWriter.hpp"

#include <gtest/gtest.h>

using namespace korvel;
using nlohmann::json;

TEST(JsonWriter, SortsKeysAtEveryLevelSpacesColonsAndParsesBack)
{
    const json value = json::parse(R"({"b": {"z": 1, "a": [true, null, 2.5]}, "a": "x/y"})");
    EXPECT_EQ(JsonWriter::format(value),
        "{\n"
        "  \"a\" : \"x\\/y\",\n"
        "  \"b\" : {\n"
        "    \"a\" : [\n"
        "      true,\n"
        "      null,\n"
        "      2.5\n"
        "    ],\n"
        "    \"z\" : 1\n"
        "  }\n"
        "}");

    const json awkward = json::parse(R"({"n": -12345678901234, "u": 18446744073709551615, "r": 0.1,
        "s": "é \u0001 \"q\" \\ /", "e": [], "o": {}, "nested": [[1, {"k": "v"}]]})");
    EXPECT_EQ(json::parse(JsonWriter::format(awkward)), awkward);
}
