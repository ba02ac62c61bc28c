#pragma once

#include <string>
#include <string_view>

namespace korvel {

// The handful of Unicode operations the profile rules need, on UTF-8 text, backed by ICU.
namespace UnicodeText {

// True for a code point with the White_Space property (U+0020, U+0009–U+000D, U+0085, U+00A0,
// U+2028, U+3000, …): "white space and line breaks".
bool isWhiteSpace(char32_t c);

// Removes, at both ends only, every code point for which `trimmed(c)` holds.
template<typename Predicate>
std::string trim(std::string_view text, Predicate trimmed);

// trim() with isWhiteSpace.
std::string trimWhiteSpace(std::string_view text);

// The first extended grapheme cluster whose first code point is a letter or a number by its general
// category (L*, N*), or an empty string when there is none.
std::string firstLetterOrNumberCluster(std::string_view text);

// Full Unicode upper-case mapping, locale independent (ß → SS, ǆ → Ǆ).
std::string toUpper(std::string_view text);

// The text as a search compares it: compatibility forms decomposed, combining marks dropped and the case folded,
// so that "zoe" is found in "Zoë" and "strasse" in "Straße".
std::string searchKey(std::string_view text);

// Whether `query` occurs in `text`, both compared as searchKey gives them.
bool matchesSearch(std::string_view text, std::string_view query);

// Replaces every occurrence of `from` with `to` (plain, literal).
std::string replaceAll(std::string text, std::string_view from, std::string_view to);

// Decodes one code point at `offset` and advances it; malformed input yields U+FFFD.
char32_t decodeAt(std::string_view text, size_t& offset);

// `bytes` as valid UTF-8: every ill-formed sequence (as decodeAt delimits it) becomes U+FFFD.
std::string replacingInvalidUtf8(std::string_view bytes);

// Text for a terminal: valid UTF-8 (as replacingInvalidUtf8) whose control characters are shown, not obeyed:
// C0 and DEL as \x1B; C1, the bidirectional formatting characters and the line and paragraph separators as
// \u202E. An escape sequence in a name then cannot move the cursor or set a title, nor an override reorder the
// line. The result holds only characters that are shown as they are, and escaping it again changes nothing.
std::string escapingControls(std::string_view text);
// Whether escapingControls would change `text`.
bool needsEscaping(std::string_view text);

} // namespace UnicodeText

template<typename Predicate>
std::string UnicodeText::trim(std::string_view text, Predicate trimmed)
{
    size_t begin = 0;
    while (begin < text.size()) {
        size_t next = begin;
        if (!trimmed(decodeAt(text, next)))
            break;
        begin = next;
    }
    size_t end = begin;
    size_t keepUntil = begin;
    while (end < text.size()) {
        const char32_t c = decodeAt(text, end);
        if (!trimmed(c))
            keepUntil = end;
    }
    return std::string(text.substr(begin, keepUntil - begin));
}

} // namespace korvel
