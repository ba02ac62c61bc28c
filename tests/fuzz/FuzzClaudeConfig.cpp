// claude_desktop_config.json, Claude's own file: read from Claude's folder and from a profile's, where the pins
// and MCP servers are merged in and everything else must stay.
#include "core/support/FileError.hpp"
#include "core/transfer/SessionImporter.hpp"
#include "tests/fuzz/Fuzzing.hpp"
#include "tests/support/TempDir.hpp"

#include <nlohmann/json.hpp>

int main(int argc, char** argv)
{
    using namespace korvel;
    using nlohmann::json;
    const test::TempDir folder;
    const auto source = folder / "source", destination = folder / "destination";
    test::writeText(source / "claude-code-sessions/0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D/local_1.json", "{}");
    test::writeText(destination / "claude-code-sessions/0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D/local_1.json", "{}");
    const json config = {{"mcpServers", {{"files", {{"command", "npx"}, {"args", {"-y", "server"}}}}}},
        {"preferences", {{"epitaxyPrefs", {{"starred-local-code-sessions", {"local_1", "local_2"}}}}}}};
    return fuzz::main(argc, argv,
        {{config.dump(), config.dump(2), "{}"},
            {"{", "[", "\"preferences\": ", "\"epitaxyPrefs\": ", "\"starred-local-code-sessions\": ", "\"local_1\"",
                "\\ud800", "1e400", "null", "\xc3\x28"},
            [&](std::string_view input) {
                // Pins from the same text; MCP servers from the seed into it.
                for (const bool servers : {false, true}) {
                    test::writeText(source / "claude_desktop_config.json", servers ? config.dump() : input);
                    test::writeText(destination / "claude_desktop_config.json", input);
                    const auto ledger = folder / "ledger.json";
                    std::filesystem::remove(ledger);
                    try {
                        if (servers) {
                            SessionImporter::mcpServersToMerge(source, destination, ledger);
                            SessionImporter::mergeMcpServers(source, destination, ledger);
                        } else {
                            SessionImporter::pinsToMerge(source, destination, ledger);
                            SessionImporter::mergePins(source, destination, ledger);
                        }
                    } catch (const FileError&) {
                        continue; // the profile's file is unreadable: left alone
                    }
                    const std::string written = test::readText(destination / "claude_desktop_config.json");
                    if (written == input)
                        continue; // nothing to merge: the file was not touched
                    const json merged = json::parse(written, nullptr, false);
                    if (!merged.is_object())
                        throw fuzz::Fault {"the merge wrote a configuration that is no JSON object"};
                }
            }});
}
