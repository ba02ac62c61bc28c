// profiles.json: the profiles that read must be written back to the same profiles, none left out.
#include "core/model/ProfileStore.hpp"
#include "tests/fuzz/Fuzzing.hpp"

int main(int argc, char** argv)
{
    using namespace korvel;
    const std::vector<Profile> profiles = {{*Uuid::parse("0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D"), "Work 100% \"x\"\n",
                                               ProfileColor::Orange, *Timestamp::parseIso8601("2026-12-05T16:05:19Z")},
        {*Uuid::parse("6f1c2d3e-4a5b-4c6d-8e7f-0a1b2c3d4e5f"), "Straße 🚀", ProfileColor::Graphite,
            *Timestamp::parseIso8601("1999-01-01T00:00:00+05:30")}};
    return fuzz::main(argc, argv,
        {{ProfileStore::encode(profiles), ProfileStore::encode({})},
            {"{", "[", "\"version\" : ", "\"profiles\"", "\"createdAt\" : \"", "\\u0000", "\\ud800", "1e999", "-0",
                "\"color\" : \"red\"", "null", "18446744073709551616"},
            [](std::string_view input) {
                const auto decoded = ProfileStore::decode(std::string(input), "fuzz/profiles.json").profiles;
                const auto again = ProfileStore::decode(ProfileStore::encode(decoded), "fuzz/again.json");
                if (again.profiles != decoded || !again.leftOut.empty())
                    throw fuzz::Fault {"the profiles changed through their own file"};
            }});
}
