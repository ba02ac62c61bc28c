#include "relay/ToplevelFilter.hpp"
#include "relay/WireMessage.hpp"
#include "tests/relay/WaylandStream.hpp"

#include <gtest/gtest.h>

namespace korvel::relay {
namespace {

using test::toToplevel;
using test::wire;

constexpr auto appId = "com.example.profile.0b5a1f3c";

std::string requests(ToplevelFilter& filter, std::string input)
{
    std::string output;
    filter.requests(input, output);
    EXPECT_TRUE(input.empty());
    return output;
}

void events(ToplevelFilter& filter, std::string input)
{
    const std::string sent = input;
    std::string output;
    filter.events(input, output);
    EXPECT_EQ(output, sent) << "events pass unchanged and whole";
}

std::string configure(uint32_t toplevel, std::initializer_list<uint32_t> states)
{
    std::string body;
    WireWriter::word(body, 800);
    WireWriter::word(body, 600);
    body += test::wireArray(states);
    return WireMessage::encode(toplevel, 0, body);
}

TEST(ToplevelFilterTest, SetAppIdNamesTheProfileAndEverythingElsePassesUnchanged)
{
    // Ids and opcodes that look like the toplevel's on objects the filter must not take for one.
    const std::string untouched = toToplevel() + wire(5, 2, {std::string("A title")}) +
        wire(2, 0, {8u, std::string("wl_compositor"), 4u, 6u}) + wire(6, 3, {std::string("not an app id")}) +
        wire(2, 0, {9u, std::string("zxdg_shell_v6"), 1u, 11u}) + wire(11, 3, {std::string("claude")});
    // Delivered in pieces of every size: a message split anywhere is held until complete.
    for (const size_t piece : {size_t {1}, size_t {3}, size_t {4096}}) {
        ToplevelFilter fresh(appId);
        const std::string stream = untouched + wire(5, 3, {std::string("Claude")}) + wire(5, 4, {0u, 1u});
        std::string input, output;
        for (size_t offset = 0; offset < stream.size(); offset += piece) {
            input += stream.substr(offset, piece);
            fresh.requests(input, output);
        }
        EXPECT_TRUE(input.empty());
        EXPECT_EQ(output, untouched + wire(5, 3, {std::string(appId)}) + wire(5, 4, {0u, 1u})) << piece;
    }
}

TEST(ToplevelFilterTest, ObjectsAreForgottenAndRecreatedWithTheirIds)
{
    const std::string setAppId = wire(5, 3, {std::string("Claude")});
    const std::string rewritten = wire(5, 3, {std::string(appId)});
    struct Case
    {
        const char* name;
        std::string requestsBefore;
        std::string eventsBetween;
        std::string requestsAfter; // ending with a set_app_id on id 5
        std::string expected; // the last message as forwarded
    };
    const std::string destroyToplevel = wire(5, 0, {});
    const std::string deleteFive = wire(1, 1, {5u});
    const std::vector<Case> cases {
        {"toplevel destroyed, id reused for a callback", toToplevel() + destroyToplevel, deleteFive,
            wire(1, 0, {5u}) + setAppId, setAppId},
        {"toplevel destroyed and recreated", toToplevel() + destroyToplevel, deleteFive, wire(4, 1, {5u}) + setAppId,
            rewritten},
        {"id freed by the compositor alone", toToplevel(), deleteFive, setAppId, setAppId},
        {"xdg_wm_base destroyed before its surface asks", toToplevel() + wire(3, 0, {}) + wire(1, 1, {2u}), "",
            wire(3, 2, {12u, 10u}) + wire(12, 1, {5u}) + setAppId, rewritten},
        {"wm base id rebound to another interface", toToplevel() + wire(5, 0, {}) + wire(4, 0, {}) + wire(3, 0, {}),
            wire(1, 1, {3u}) + wire(1, 1, {4u}) + deleteFive,
            wire(2, 0, {8u, std::string("wl_shm"), 1u, 3u}) + wire(3, 2, {4u, 10u}) + wire(4, 1, {5u}) + setAppId,
            setAppId},
    };
    for (const auto& test : cases) {
        ToplevelFilter filter(appId);
        requests(filter, test.requestsBefore);
        events(filter, test.eventsBetween);
        const std::string output = requests(filter, test.requestsAfter);
        EXPECT_TRUE(output.ends_with(test.expected)) << test.name;
    }
}

TEST(ToplevelFilterTest, ActivationFollowsTheToplevelsConfigures)
{
    ToplevelFilter filter(appId);
    requests(filter, toToplevel() + wire(4, 1, {12u}));
    struct Step
    {
        std::string events;
        std::string requests;
        bool activated;
    };
    const std::vector<Step> steps {
        {configure(5, {1, 4}), "", true}, // maximized, activated
        {configure(12, {}), "", true}, // a second toplevel, not active
        {configure(5, {2}), "", false},
        {configure(12, {4}) + configure(99, {}), "", true}, // an unknown object's configure is no toplevel's
        {"", wire(12, 0, {}), false}, // the active toplevel destroyed
        {configure(5, {4}) + wire(1, 1, {5u}), "", false}, // and freed by the compositor
    };
    for (size_t index = 0; index < steps.size(); ++index) {
        events(filter, steps[index].events);
        requests(filter, steps[index].requests);
        EXPECT_EQ(filter.activated(), steps[index].activated) << "step " << index;
    }
}

TEST(ToplevelFilterTest, ActivationTokensAreReadFromTheActivationObjectsActivateRequestsAlone)
{
    const std::string bindActivation = wire(2, 0, {9u, std::string("xdg_activation_v1"), 1u, 12u});
    const std::string activate = wire(12, 2, {std::string("token-1"), 10u});
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases {
        {bindActivation + activate + wire(12, 2, {std::string("token-2"), 10u}), {"token-1", "token-2"}},
        {bindActivation + wire(12, 1, {13u}) + wire(13, 2, {std::string("a serial"), 10u}), {}},
        {wire(2, 0, {9u, std::string("wl_shm"), 1u, 12u}) + activate, {}},
        {bindActivation + wire(12, 0, {}) + activate, {}},
    };
    for (const auto& [stream, tokens] : cases) {
        ToplevelFilter filter(appId);
        EXPECT_EQ(requests(filter, wire(1, 1, {2u}) + stream), wire(1, 1, {2u}) + stream) << "passed unchanged";
        EXPECT_EQ(filter.takeActivationTokens(), tokens);
        EXPECT_TRUE(filter.takeActivationTokens().empty()) << "taken once";
    }
}

TEST(ToplevelFilterTest, MalformedStreamsAreRefusedAfterTheGoodMessagesBeforeThem)
{
    const std::string good = toToplevel();
    std::string noNul = wire(5, 3, {std::string("abc")});
    noNul[8 + 4 + 3] = 'd';
    std::string longString = wire(5, 3, {std::string("abc")});
    longString[8] = 9;
    const struct
    {
        const char* name;
        std::string requests;
        std::string events;
    } cases[] {
        {"size below the header", std::string("\5\0\0\0\0\0\4\0", 8), ""},
        {"size not a multiple of four", std::string("\5\0\0\0\0\0\x0a\0", 8) + "xx", ""},
        {"string without its NUL", noNul, ""},
        {"string longer than its message", longString, ""},
        {"get_registry without its id", wire(1, 1, {}), ""},
        {"bind cut short", wire(2, 0, {7u, std::string("xdg_wm_base")}), ""},
        {"configure state array of odd length", "", configure(5, {}).replace(16, 4, std::string("\3\0\0\0", 4))},
        {"delete_id without its id", "", wire(1, 1, {})},
    };
    for (const auto& test : cases) {
        ToplevelFilter filter(appId);
        std::string input = good + test.requests, output;
        std::string eventInput = test.events, eventOutput;
        if (!test.requests.empty()) {
            EXPECT_THROW(filter.requests(input, output), ProtocolError) << test.name;
            EXPECT_EQ(output, good) << test.name;
        } else {
            filter.requests(input, output);
            EXPECT_THROW(filter.events(eventInput, eventOutput), ProtocolError) << test.name;
        }
    }
}

} // namespace
} // namespace korvel::relay
