#include "core/building/PropertyList.hpp"

#include "core/building/PlistScreening.hpp"

#include <plist/plist.h>

#include <cstdlib>
#include <limits>
#include <memory>
#include <stdexcept>

namespace korvel::PropertyList {
namespace {

struct NodeDeleter
{
    void operator()(plist_t node) const { plist_free(node); }
};
using Node = std::unique_ptr<void, NodeDeleter>;

struct FreeDeleter
{
    void operator()(void* memory) const { std::free(memory); }
};

constexpr std::string_view documentStart = "<plist version=\"1.0\">";

std::string nodeXml(plist_t node)
{
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node, &xml, &length);
    if (!xml)
        throw std::runtime_error("libplist could not write a property list");
    std::string text(xml, length);
    plist_to_xml_free(xml);
    return text;
}

// libplist 2.2 has no public way to tell a signed from an unsigned integer, and keeps dates as 32-bit
// seconds since 2001 in its accessors; its XML text is exact for both. These two helpers go through it.
std::string elementText(plist_t node, std::string_view tag)
{
    const std::string xml = nodeXml(node);
    const std::string open = "<" + std::string(tag) + ">";
    const size_t start = xml.find(open);
    const size_t end = xml.find("</" + std::string(tag) + ">");
    if (start == std::string::npos || end == std::string::npos || end < start + open.size())
        throw std::runtime_error("libplist wrote an unexpected " + std::string(tag) + " element");
    return xml.substr(start + open.size(), end - start - open.size());
}

Node nodeFromElement(const std::string& element)
{
    const std::string document = std::string(documentStart) + element + "</plist>";
    plist_t node = nullptr;
    plist_from_xml(document.data(), static_cast<uint32_t>(document.size()), &node);
    if (!node)
        throw std::runtime_error("libplist rejected " + element);
    return Node(node);
}

PlistValue fromNode(plist_t node);

PlistValue integerFromNode(plist_t node)
{
    uint64_t bits = 0;
    plist_get_uint_val(node, &bits);
    if (bits <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        return static_cast<int64_t>(bits);
    if (elementText(node, "integer").starts_with('-'))
        return static_cast<int64_t>(bits);
    return bits;
}

PlistValue dateFromNode(plist_t node)
{
    const std::string text = elementText(node, "date");
    const auto date = Timestamp::parseIso8601(text);
    if (!date)
        throw std::invalid_argument("it holds a date outside the years 1000 to 9999 (" + text + ")");
    return *date;
}

PlistValue stringFromNode(plist_t node)
{
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    return std::string(text ? text : "", text ? length : 0);
}

PlistValue dataFromNode(plist_t node)
{
    uint64_t length = 0;
    const char* bytes = plist_get_data_ptr(node, &length);
    if (!bytes)
        return PlistData();
    const auto* first = reinterpret_cast<const uint8_t*>(bytes);
    return PlistData(first, first + length);
}

PlistValue arrayFromNode(plist_t node)
{
    PlistArray array;
    const uint32_t size = plist_array_get_size(node);
    array.reserve(size);
    for (uint32_t i = 0; i < size; ++i)
        array.push_back(fromNode(plist_array_get_item(node, i)));
    return array;
}

PlistValue dictionaryFromNode(plist_t node)
{
    PlistDictionary dictionary;
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(node, &iterator);
    const std::unique_ptr<void, FreeDeleter> iteratorOwner(iterator);
    for (;;) {
        char* rawKey = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, iterator, &rawKey, &item);
        if (!rawKey)
            break;
        const std::unique_ptr<char, FreeDeleter> key(rawKey);
        // A repeated key keeps its last value, as libplist itself does.
        dictionary.insert_or_assign(std::string(key.get()), fromNode(item));
    }
    return dictionary;
}

PlistValue fromNode(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return value != 0;
    }
    case PLIST_UINT:
        return integerFromNode(node);
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return value;
    }
    case PLIST_STRING:
        return stringFromNode(node);
    case PLIST_ARRAY:
        return arrayFromNode(node);
    case PLIST_DICT:
        return dictionaryFromNode(node);
    case PLIST_DATE:
        return dateFromNode(node);
    case PLIST_DATA:
        return dataFromNode(node);
    case PLIST_UID:
        throw std::invalid_argument("it holds a keyed-archive UID, which bundle property lists never do");
    case PLIST_KEY:
    case PLIST_NONE:
        break;
    }
    throw std::invalid_argument("it holds a value of an unknown type");
}

Node toNode(const PlistValue& value);

// XML 1.0 cannot carry a NUL character, and libplist would cut the string there.
const char* xmlString(const std::string& text)
{
    if (text.find('\0') != std::string::npos)
        throw std::out_of_range("a string or key holds a NUL character");
    return text.c_str();
}

Node integerNode(const PlistValue& value)
{
    if (const auto small = value.asInteger())
        return Node(plist_new_uint(static_cast<uint64_t>(*small)));
    // Above INT64_MAX: only a parsed node is marked unsigned in libplist 2.2.
    return nodeFromElement("<integer>" + std::to_string(*value.asUnsignedInteger()) + "</integer>");
}

Node dateNode(const Timestamp& date)
{
    const std::string text = date.iso8601();
    if (text.size() != 20 || text.front() == '-' || text.front() == '0')
        throw std::out_of_range("the date " + text + " is outside the years 1000 to 9999");
    // Through the XML text: plist_new_date takes 32-bit seconds (1933 to 2069 only).
    return nodeFromElement("<date>" + text + "</date>");
}

Node arrayNode(const PlistArray& array)
{
    Node node(plist_new_array());
    for (const PlistValue& item : array)
        plist_array_append_item(node.get(), toNode(item).release());
    return node;
}

Node dictionaryNode(const PlistDictionary& dictionary)
{
    Node node(plist_new_dict());
    for (const auto& [key, item] : dictionary) {
        const char* name = xmlString(key);
        plist_dict_set_item(node.get(), name, toNode(item).release());
    }
    return node;
}

Node toNode(const PlistValue& value)
{
    switch (value.type()) {
    case PlistValue::Type::String:
        return Node(plist_new_string(xmlString(*value.asString())));
    case PlistValue::Type::Integer:
        return integerNode(value);
    case PlistValue::Type::Real:
        return Node(plist_new_real(*value.asReal()));
    case PlistValue::Type::Boolean:
        return Node(plist_new_bool(*value.asBoolean() ? 1 : 0));
    case PlistValue::Type::Date:
        return dateNode(*value.asDate());
    case PlistValue::Type::Data: {
        const PlistData& data = *value.asData();
        return Node(plist_new_data(reinterpret_cast<const char*>(data.data()), data.size()));
    }
    case PlistValue::Type::Array:
        return arrayNode(*value.asArray());
    case PlistValue::Type::Dictionary:
        break;
    }
    return dictionaryNode(*value.asDictionary());
}

} // namespace

PlistValue parse(std::string_view bytes)
{
    if (bytes.size() > std::numeric_limits<uint32_t>::max())
        throw std::invalid_argument("it is too large for a property list");
    if (const auto problem = PlistScreening::problem(bytes))
        throw std::invalid_argument(*problem);
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    if (!root)
        throw std::invalid_argument("it is neither an XML nor a binary property list");
    const Node owner(root);
    return fromNode(root);
}

std::string toXml(const PlistValue& root)
{
    return nodeXml(toNode(root).get());
}

} // namespace korvel::PropertyList
