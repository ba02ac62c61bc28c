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

    EXPECT_EQ(PlistValue(-1).asInteger(), -1);
    EXPECT_EQ(PlistValue(-1).asUnsignedInteger(), std::nullopt);
    EXPECT_EQ(PlistValue(uint64Max).asInteger(), std::nullopt);
    EXPECT_EQ(PlistValue(uint64Max).asUnsignedInteger(), uint64Max);
    EXPECT_EQ(PlistValue(7u).asUnsignedInteger(), 7u);
    EXPECT_EQ(PlistValue(uint64Max).type(), PlistValue::Type::Integer);
}

TEST(PlistValue, AccessorsAnswerOnlyForTheirOwnType)
{
    const PlistValue text = "yes"; // a literal must not turn into a boolean
    ASSERT_NE(text.asString(), nullptr);
    EXPECT_EQ(*text.asString(), "yes");
    EXPECT_EQ(text.asBoolean(), std::nullopt);
    EXPECT_EQ(text.type(), PlistValue::Type::String);

    EXPECT_EQ(PlistValue(true).asInteger(), std::nullopt);
    EXPECT_EQ(PlistValue(true).type(), PlistValue::Type::Boolean);
    EXPECT_EQ(PlistValue(1).asBoolean(), std::nullopt);
    EXPECT_EQ(PlistValue(1).asReal(), std::nullopt);
    EXPECT_EQ(PlistValue(1.0).asInteger(), std::nullopt);
    EXPECT_NE(PlistValue(1.0), PlistValue(1));
    EXPECT_EQ(PlistValue(Timestamp {10}).asDate(), Timestamp {10});
    EXPECT_EQ(PlistValue(Timestamp {10}).asReal(), std::nullopt);
    EXPECT_EQ(PlistValue(PlistData {1, 2}).type(), PlistValue::Type::Data);
    EXPECT_EQ(PlistValue().asString() ? *PlistValue().asString() : "none", "");

    PlistValue nested = PlistDictionary {{"list", PlistArray {"a", 2, false}}};
    ASSERT_NE(nested.asDictionary(), nullptr);
    EXPECT_EQ(nested.asArray(), nullptr);
    PlistArray* list = (*nested.asDictionary())["list"].asArray();
    ASSERT_NE(list, nullptr);
    list->push_back(3.5);
    EXPECT_EQ(nested, PlistValue(PlistDictionary {{"list", PlistArray {"a", 2, false, 3.5}}}));
    EXPECT_EQ(nested.type(), PlistValue::Type::Dictionary);
}
