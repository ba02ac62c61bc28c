// Property lists, XML and binary: what every Info.plist in the profile apps folder goes through. A list that
// parses must come back the same through its XML form (compared as XML: NaN is not equal to itself).
#include "core/building/PropertyList.hpp"
#include "tests/fuzz/Fuzzing.hpp"

#include <plist/plist.h>

#include <cstdlib>
#include <stdexcept>

namespace {

const std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>CFBundleIdentifier</key><string>com.anthropic.claudefordesktop</string>
<key>CFBundleURLTypes</key><array><dict><key>CFBundleURLSchemes</key><array><string>claude</string></array></dict></array>
<key>Count</key><integer>-12</integer><key>Big</key><integer>18446744073709551615</integer><key>Opacity</key><real>0.95</real>
<key>On</key><true/><key>Built</key><date>2025-03-14T09:26:53Z</date><key>Header</key><data>3q2+7wABAgP/</data>
<key>Empty</key><dict/><key>Text</key><string>a &amp; b &lt;c&gt; “quoted”</string></dict></plist>
)";

std::string binaryOf(const std::string& document)
{
    plist_t root = nullptr;
    plist_from_xml(document.data(), static_cast<uint32_t>(document.size()), &root);
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    std::string binary(bytes, length);
    std::free(bytes);
    plist_free(root);
    return binary;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace korvel;
    return fuzz::main(argc, argv,
        {{xml, binaryOf(xml)},
            {"<array>", "<dict>", "</array>", "</dict>", "<key>k</key>", "<string>", "<integer>9223372036854775808",
                "<date>", "<real>nan</real>", "<data>", "<!--", "]]>", "&#0;", "\xA1\x01", "\xD1\x01\x02", "\x5F\x10"},
            [](std::string_view input) {
                const PlistValue value = PropertyList::parse(input);
                std::string again;
                try {
                    again = PropertyList::toXml(value);
                } catch (const std::out_of_range&) {
                    return; // a value the XML form cannot hold: refused before writing, as documented
                }
                if (PropertyList::toXml(PropertyList::parse(again)) != again)
                    throw fuzz::Fault {"the value changed through its XML form: " + again.substr(0, 300)};
            }});
}
