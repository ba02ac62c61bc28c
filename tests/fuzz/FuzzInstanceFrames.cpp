// Frames on the single-instance socket, as any process of the user may send them.
#include "app/platform/linux/InstanceMessage.hpp"
#include "tests/fuzz/Fuzzing.hpp"

int main(int argc, char** argv)
{
    using namespace korvel;
    using nlohmann::json;
    const std::string frames = InstanceMessage::encode({{"type", "urls"}, {"urls", {"claude://a", "--x"}}}) +
        InstanceMessage::encode({{"type", "show"}}) +
        InstanceMessage::encode({{"type", "command"}, {"argv", {"list", "--json"}}, {"progress", true}});
    return fuzz::main(argc, argv,
        {{frames, InstanceMessage::encode({{"type", "show"}})},
            {std::string("\0\0\0\x02{}", 6), std::string("\0\x10\0\0", 4), "\xff\xff\xff\xff", "{\"type\":", "[", "{",
                "\"urls\":[", "\\ud800"},
            [](std::string_view input) {
                std::string buffer(input);
                while (const auto message = InstanceMessage::take(buffer))
                    if (!message->is_object() || !message->at("type").is_string())
                        throw fuzz::Fault {"a message without a type was taken"};
            }});
}
