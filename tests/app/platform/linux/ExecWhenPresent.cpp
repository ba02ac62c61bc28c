// A compiled wrapper for the workspace tests: waits until a file exists, then becomes another program in the
// same process. A scan sees a program that is no interpreter change into a bundle's program.
//
//     ExecWhenPresent FILE PROGRAM [ARGUMENT…]

#include <chrono>
#include <filesystem>
#include <thread>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    while (!std::filesystem::exists(argv[1]))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ::execv(argv[2], argv + 2);
    return 127;
}
