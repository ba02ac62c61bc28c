// Drives SystemTools from bench/clone_and_seal.sh:
//   korvel-systools-bench clone SOURCE DESTINATION   — one cloneTree
//   korvel-systools-bench run TOOL [ARGUMENTS…]      — one run; prints how many bytes came back

#include "core/system/SystemTools.hpp"

#include <exception>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    try {
        if (arguments.size() == 3 && arguments[0] == "clone") {
            korvel::SystemTools::cloneTree(arguments[1], arguments[2]);
            return 0;
        }
        if (arguments.size() >= 2 && arguments[0] == "run") {
            const std::string output = korvel::SystemTools::run(
                arguments[1], std::vector<std::string>(arguments.begin() + 2, arguments.end()));
            std::cout << output.size() << "\n";
            return 0;
        }
    } catch (const std::exception& error) {
        std::cerr << error.what() << "\n";
        return 1;
    }
    std::cerr << "usage: korvel-systools-bench clone SOURCE DESTINATION | run TOOL [ARGUMENTS…]\n";
    return 2;
}
