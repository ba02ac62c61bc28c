#include "app/cli/TextTable.hpp"

#include "core/support/UnicodeText.hpp"

#include <algorithm>

namespace korvel {
size_t TextTable::width(const std::string& text)
{
    size_t count = 0;
    for (size_t offset = 0; offset < text.size(); ++count)
        UnicodeText::decodeAt(text, offset);
    return count;
}

std::string TextTable::format(const std::vector<std::vector<std::string>>& rows)
{
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (size_t column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], width(row[column]));
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (size_t column = 0; column < row.size(); ++column) {
            line += row[column];
            if (column + 1 < row.size())
                line += std::string(widths[column] - width(row[column]) + 2, ' ');
        }
        line.erase(line.find_last_not_of(' ') + 1);
        text += line + "\n";
    }
    return text;
}

} // namespace korvel
