// korvel-tool: one program behind the codesign, xattr and lsregister links in Korvel.app/Contents/Helpers.
// It acts as the tool it was started as (the name of argv[0]); "korvel-tool NAME ARGS…" works too.

#include "core/system/CodeSeal.hpp"
#include "core/system/Quarantine.hpp"
#include "tools/LsRegister.hpp"

#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

int dispatch(const std::string& tool, const std::vector<std::string>& arguments)
{
    if (tool == "codesign")
        return korvel::CodeSeal::main(arguments);
    if (tool == "xattr")
        return korvel::Quarantine::main(arguments);
    if (tool == "lsregister")
        return korvel::LsRegister::main(arguments);
    std::cerr << "usage: korvel-tool codesign|xattr|lsregister ARGUMENTS…\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string tool = argc > 0 ? std::filesystem::path(argv[0]).filename().string() : std::string();
    if (tool == "korvel-tool" && !arguments.empty()) {
        tool = arguments.front();
        arguments.erase(arguments.begin());
    }
    try {
        return dispatch(tool, arguments);
    } catch (const std::exception& error) {
        std::cerr << tool << ": " << error.what() << "\n";
        return 1;
    }
}
