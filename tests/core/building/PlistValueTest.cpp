#include "core/building/PlistValue.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

using namespace korvel;

TEST(PlistValue, EveryIntegerHasOneRepresentation)
{
    constexpr auto uint64Max = std::numeric_limits<std::uint64_t>::max();
    constexpr auto int64Max = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(PlistValue(5u), PlistValue(5));
    EXPECT_EQ(PlistValue(static_cast<std::uint64_t>(int64Max)), PlistValue(int64Max));
    EXPECT_NE(PlistValue(uint64Max), PlistValue(-1));
    EXPECT_EQ(PlistValue(-1).asUnsignedInteger(), std::nullopt);
    EXPECT_EQ(PlistValue(uint64Max).asInteger(), std::nullopt);
    EXPECT_EQ(PlistValue(uint64Max).asUnsignedInteger(), uint64Max);
}

TEST(PlistValue, AccessorsAnswerOnlyForTheirOwnType)
{
    const PlistValue text = "yes"; // a literal must not turn into a boolean
    EXPECT_EQ(text.type(), PlistValue::Type::String);
    EXPECT_EQ(text.asBoolean(), std::nullopt);
    EXPECT_EQ(PlistValue(true).asInteger(), std::nullopt);
    EXPECT_EQ(PlistValue(1).asBoolean(), std::nullopt);
    EXPECT_EQ(PlistValue(1).asReal(), std::nullopt);
    EXPECT_NE(PlistValue(1.0), PlistValue(1));
    EXPECT_EQ(PlistValue(Timestamp {10}).asReal(), std::nullopt);

    PlistValue nested = PlistDictionary {{"list", PlistArray {"a", 2, false}}};
    EXPECT_EQ(nested.asArray(), nullptr);
    PlistArray* list = (*nested.asDictionary())["list"].asArray();
    ASSERT_NE(list, nullptr);
    list->push_back(3.5);
    EXPECT_EQ(nested, PlistValue(PlistDictionary {{"list", PlistArray {"a", 2, false, 3.5}}}));
}
