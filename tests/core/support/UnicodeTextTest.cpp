#include "core/support/UnicodeText.hpp"

#include <gtest/gtest.h>

namespace korvel::test {
namespace {

TEST(UnicodeTextTest, SearchIgnoresLetterCaseAndAccentsButNotOtherLetters)
{
    struct Case
    {
        const char* text;
        const char* query;
        bool found;
    };
    const Case cases[] = {
        {"Zoë", "zoe", true},
        {"ZOË", "Zoë", true},
        {"Zoe", "zoë", true}, // either side
        {"Œuvre Café", "cafe", true},
        {"Straße", "STRASSE", true}, // full case folding
        {"Ｗｏｒｋ", "work", true}, // full-width forms
        {"İstanbul", "istanbul", true},
        {"Crème brûlée", "me bru", true}, // anywhere in the name
        {"Work", "", true},
        {"Zoë", "zoey", false},
        {"Work", "Wörk2", false},
        {"日本語", "日本", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UnicodeText::matchesSearch(c.text, c.query), c.found) << c.text << " / " << c.query;
}

} // namespace
} // namespace korvel::test
