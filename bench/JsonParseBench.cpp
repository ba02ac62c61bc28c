// Korvel's JSON reading against nlohmann's own parser without a callback (the floor, linear in the text), on the two
// shapes that grow with a user's setup: a profile list of N entries and a Claude configuration with N MCP servers,
// from N/16 to N. Usage: JsonParseBench [largest N]; exits 1 when the largest size costs more than twice the floor,
// which a cost growing faster than the text passes by far (the smaller sizes show the growth; on a busy machine
// they are noisy).

#include "core/support/JsonText.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

using namespace korvel;

namespace {

std::string profileList(int entries)
{
    std::string text = R"({"version": 1, "profiles": [)";
    for (int i = 0; i < entries; ++i) {
        text += (i ? "," : "") + std::string(R"({"id": "0B5A1F3C-7D2E-4C61-9A8B-)") + std::to_string(100000000000 + i) +
            R"(", "name": "Profile )" + std::to_string(i) +
            R"(", "color": "orange", "createdAt": "2026-12-05T16:05:19Z"})";
    }
    return text + "]}";
}

std::string mcpServers(int entries)
{
    std::string text = R"({"preferences": {"a": [1, 2]}, "mcpServers": {)";
    for (int i = 0; i < entries; ++i) {
        text += (i ? "," : "") + std::string(R"("server-)") + std::to_string(i) +
            R"(": {"command": "npx", "args": ["-y", "@scope/server", "--port", ")" + std::to_string(i) +
            R"("], "env": {"TOKEN": "t\"o\\k"}})";
    }
    return text + "}}";
}

double milliseconds(const std::function<void()>& run)
{
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The best of several runs of each, taken in turns so that a busy machine slows both alike, in milliseconds.
std::pair<double, double> best(const std::function<void()>& ours, const std::function<void()>& floor)
{
    double fastest = 1e300, fastestFloor = 1e300;
    for (int run = 0; run < 9; ++run) {
        fastest = std::min(fastest, milliseconds(ours));
        fastestFloor = std::min(fastestFloor, milliseconds(floor));
    }
    return {fastest, fastestFloor};
}

} // namespace

int main(int argc, char** argv)
{
    const int largest = argc > 1 ? std::atoi(argv[1]) : 40000;
    bool linear = true;
    for (const auto& [shape, make] : {std::pair {"profiles", &profileList}, std::pair {"MCP servers", &mcpServers}}) {
        double firstPerEntry = 0;
        for (int entries = largest / 16; entries <= largest; entries *= 2) {
            const std::string text = make(entries);
            const auto [ours, floor] = best(
                [&] {
                    if (JsonText::parse(text).is_discarded())
                        std::abort();
                },
                [&] {
                    if (nlohmann::json::parse(text).is_discarded())
                        std::abort();
                });
            const double perEntry = ours / entries;
            firstPerEntry = firstPerEntry == 0 ? perEntry : firstPerEntry;
            std::printf("%6d %-11s %8.2f MB: %9.2f ms (%.2f µs each, %.2f× the smallest's), plain parse %8.2f ms, "
                        "ratio %.2f\n",
                entries, shape, text.size() / 1e6, ours, perEntry * 1000, perEntry / firstPerEntry, floor,
                ours / floor);
            if (entries * 2 > largest)
                linear = linear && ours <= 2 * floor;
        }
    }
    std::printf("%s\n", linear ? "linear" : "NOT linear");
    return linear ? 0 : 1;
}
