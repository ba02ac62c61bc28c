// session-import.json, the ledger of a profile's session sync: anything unreadable counts as empty, never more.
#include "core/transfer/SessionImporter.hpp"
#include "tests/fuzz/Fuzzing.hpp"
#include "tests/support/TempDir.hpp"

int main(int argc, char** argv)
{
    using namespace korvel;
    const test::TempDir folder;
    const std::string session = "claude-code-sessions/0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D/local_1.json";
    test::writeText(folder / "source" / session, "{}");
    std::filesystem::create_directories((folder / "destination" / session).parent_path());
    const auto ledger = folder / "session-import.json";
    return fuzz::main(argc, argv,
        {{R"({"files": [")" + session + R"("], "pins": ["local_1"]})", R"({"files": [], "pins": []})"},
            {"[", "{", "\"files\": ", "\"pins\": ", "\"" + session + "\"", "\\u0000", "\xff", "null", "7"},
            [&](std::string_view input) {
                test::writeText(ledger, input);
                const auto summary = SessionImporter::summary(folder / "source", folder / "destination", ledger);
                if (summary.missingFiles > 1 || summary.missingSessions > 1)
                    throw fuzz::Fault {"a ledger made one session into several"};
            }});
}
