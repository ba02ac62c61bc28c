#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace korvel {

// Rows of text in columns two blanks apart, each as wide as its widest cell (counted in code points; the
// names people type are mostly one column per code point). The last column is not padded.
struct TextTable
{
    static std::string format(const std::vector<std::vector<std::string>>& rows);
    // The columns `text` takes.
    static size_t width(const std::string& text);
};

} // namespace korvel
