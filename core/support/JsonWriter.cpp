#include "core/support/JsonWriter.hpp"

#include "core/support/AtomicFile.hpp"
#include "core/support/UnicodeText.hpp"

#include <cstdio>
#include <stdexcept>
#include <vector>

namespace korvel::JsonWriter {
namespace {

// Bytes that are not UTF-8 become U+FFFD: whatever it is given, the file stays readable JSON.
void appendString(std::string& out, const std::string& bytes)
{
    const std::string text = UnicodeText::replacingInvalidUtf8(bytes);
    out += '"';
    for (const unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '/':
            out += "\\/";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
}

// nlohmann's document builder, except that a number it would turn into a double keeps its text.
class NumberTextKeeper : public nlohmann::detail::json_sax_dom_parser<nlohmann::json>
{
public:
    using json_sax_dom_parser::json_sax_dom_parser;

    bool number_float(double, const std::string& text)
    {
        nlohmann::json::binary_t bytes(std::vector<uint8_t>(text.begin(), text.end()));
        return binary(bytes);
    }
};

// A binary value holds a number's text from parseKeepingNumbers; anything else in one cannot be written as JSON.
void appendNumberText(std::string& out, const nlohmann::json::binary_t& bytes)
{
    const std::string text(bytes.begin(), bytes.end());
    const nlohmann::json number = nlohmann::json::parse(text, nullptr, false);
    if (!number.is_number())
        throw std::invalid_argument("JsonWriter: a binary value that is not a number's text");
    out += text;
}

void appendValue(std::string& out, const nlohmann::json& value, int depth)
{
    const std::string indent(static_cast<size_t>(depth + 1) * 2, ' ');
    const std::string closing(static_cast<size_t>(depth) * 2, ' ');
    switch (value.type()) {
    case nlohmann::json::value_t::object: {
        if (value.empty()) {
            out += "{\n\n" + closing + "}";
            return;
        }
        out += "{\n";
        bool first = true;
        // nlohmann's default object is a std::map: iteration is already in sorted key order.
        for (auto it = value.begin(); it != value.end(); ++it) {
            if (!first)
                out += ",\n";
            first = false;
            out += indent;
            appendString(out, it.key());
            out += " : ";
            appendValue(out, it.value(), depth + 1);
        }
        out += "\n" + closing + "}";
        return;
    }
    case nlohmann::json::value_t::array: {
        if (value.empty()) {
            out += "[\n\n" + closing + "]";
            return;
        }
        out += "[\n";
        bool first = true;
        for (const auto& element : value) {
            if (!first)
                out += ",\n";
            first = false;
            out += indent;
            appendValue(out, element, depth + 1);
        }
        out += "\n" + closing + "]";
        return;
    }
    case nlohmann::json::value_t::string:
        appendString(out, value.get_ref<const std::string&>());
        return;
    case nlohmann::json::value_t::binary:
        appendNumberText(out, value.get_binary());
        return;
    default:
        // Numbers, booleans and null: nlohmann prints integers exactly and reals in round-trip form.
        out += value.dump();
        return;
    }
}

} // namespace

std::string format(const nlohmann::json& value)
{
    std::string out;
    appendValue(out, value, 0);
    return out;
}

nlohmann::json parseKeepingNumbers(const std::string& text)
{
    nlohmann::json root;
    NumberTextKeeper keeper(root, false);
    if (!nlohmann::json::sax_parse(text, &keeper) || keeper.is_errored())
        return nlohmann::json(nlohmann::json::value_t::discarded);
    return root;
}

void writeFile(const nlohmann::json& value, const std::filesystem::path& target)
{
    AtomicFile::write(target, format(value));
}

} // namespace korvel::JsonWriter
