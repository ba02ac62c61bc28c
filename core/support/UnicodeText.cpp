#include "core/support/UnicodeText.hpp"

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <cstdio>
#include <memory>

namespace korvel::UnicodeText {

bool isWhiteSpace(char32_t c)
{
    return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_WHITE_SPACE);
}

std::string trimWhiteSpace(std::string_view text)
{
    return trim(text, isWhiteSpace);
}

char32_t decodeAt(std::string_view text, size_t& offset)
{
    UChar32 c = 0;
    int32_t i = static_cast<int32_t>(offset);
    U8_NEXT(reinterpret_cast<const uint8_t*>(text.data()), i, static_cast<int32_t>(text.size()), c);
    offset = static_cast<size_t>(i);
    return c < 0 ? U'\uFFFD' : static_cast<char32_t>(c);
}

std::string replacingInvalidUtf8(std::string_view bytes)
{
    static constexpr std::string_view replacement = "\xEF\xBF\xBD";
    std::string text;
    text.reserve(bytes.size());
    size_t offset = 0;
    while (offset < bytes.size()) {
        if (static_cast<unsigned char>(bytes[offset]) < 0x80) {
            text += bytes[offset++];
            continue;
        }
        const size_t start = offset;
        const char32_t c = decodeAt(bytes, offset);
        const std::string_view sequence = bytes.substr(start, offset - start);
        // decodeAt answers U+FFFD for garbage too; only a literal U+FFFD is kept as it is.
        text += c == U'\uFFFD' && sequence != replacement ? replacement : sequence;
    }
    return text;
}

std::string escapingControls(std::string_view text)
{
    const std::string valid = replacingInvalidUtf8(text);
    std::string shown;
    shown.reserve(valid.size());
    for (size_t offset = 0; offset < valid.size();) {
        const size_t start = offset;
        const char32_t c = decodeAt(valid, offset);
        const bool c0 = c < 0x20 || c == 0x7F, c1 = c >= 0x80 && c <= 0x9F;
        // Bidirectional formatting reorders what follows on the line; the separators break it.
        const bool bidi =
            c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
        const bool separator = c == 0x2028 || c == 0x2029;
        if (!c0 && !c1 && !bidi && !separator) {
            shown.append(valid, start, offset - start);
            continue;
        }
        char escape[8];
        std::snprintf(escape, sizeof escape, c0 ? "\\x%02X" : "\\u%04X", static_cast<unsigned>(c));
        shown += escape;
    }
    return shown;
}

bool needsEscaping(std::string_view text)
{
    return escapingControls(text) != text;
}

std::string firstLetterOrNumberCluster(std::string_view text)
{
    const icu::UnicodeString unicode =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> clusters(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status))
        return {};
    clusters->setText(unicode);
    for (int32_t start = clusters->first(), end = clusters->next(); end != icu::BreakIterator::DONE;
         start = end, end = clusters->next()) {
        const int8_t category = static_cast<int8_t>(u_charType(unicode.char32At(start)));
        const bool letter = category == U_UPPERCASE_LETTER || category == U_LOWERCASE_LETTER ||
            category == U_TITLECASE_LETTER || category == U_MODIFIER_LETTER || category == U_OTHER_LETTER;
        const bool number =
            category == U_DECIMAL_DIGIT_NUMBER || category == U_LETTER_NUMBER || category == U_OTHER_NUMBER;
        if (letter || number) {
            std::string cluster;
            unicode.tempSubStringBetween(start, end).toUTF8String(cluster);
            return cluster;
        }
    }
    return {};
}

std::string toUpper(std::string_view text)
{
    icu::UnicodeString unicode =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    unicode.toUpper(icu::Locale::getRoot());
    std::string upper;
    unicode.toUTF8String(upper);
    return upper;
}

std::string searchKey(std::string_view text)
{
    icu::UnicodeString unicode =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    unicode.foldCase();
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* decomposition = icu::Normalizer2::getNFKDInstance(status);
    if (U_SUCCESS(status))
        unicode = decomposition->normalize(unicode, status);
    icu::UnicodeString key;
    for (int32_t i = 0; i < unicode.length(); i = unicode.moveIndex32(i, 1)) {
        const UChar32 c = unicode.char32At(i);
        if (u_charType(c) != U_NON_SPACING_MARK)
            key.append(c);
    }
    std::string folded;
    key.toUTF8String(folded);
    return folded;
}

bool matchesSearch(std::string_view text, std::string_view query)
{
    return searchKey(text).find(searchKey(query)) != std::string::npos;
}

std::string replaceAll(std::string text, std::string_view from, std::string_view to)
{
    if (from.empty())
        return text;
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

} // namespace korvel::UnicodeText
