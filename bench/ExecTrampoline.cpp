// The least any launcher can do: a dynamically linked program that only replaces itself with its first
// argument. Its cost is the floor for KorvelLauncher, which must read a property list besides.
#include <unistd.h>

int main(int argc, char* argv[])
{
    if (argc < 2)
        return 2;
    ::execv(argv[1], argv + 1);
    return 127;
}
