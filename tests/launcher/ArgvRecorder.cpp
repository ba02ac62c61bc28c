// A compiled stand-in for Claude's executable. A script cannot show its argument zero (the kernel hands the
// interpreter the script's path instead), so the launcher's argument zero is checked with this program.

#include "tests/support/StandInRecord.hpp"

#include <cstdlib>
#include <unistd.h>

extern char** environ;

int main(int argc, char* argv[])
{
    const char* file = std::getenv("KORVEL_STANDIN_RECORD");
    if (!file)
        return 2;
    korvel::test::StandInRecord record;
    record.arguments.assign(argv, argv + argc);
    record.pid = ::getpid();
    record.workingDirectory = std::filesystem::current_path().string();
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        record.environment[text.substr(0, equals)] = equals == std::string::npos ? "" : text.substr(equals + 1);
    }
    korvel::test::StandInRecord::append(file, record);
    return 0;
}
