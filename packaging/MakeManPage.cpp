// Writes korvel(1) from the command table.
//     korvel-make-manpage <korvel.1> <summary> <release date>

#include "app/cli/ManPage.hpp"
#include "core/support/AtomicFile.hpp"

#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: korvel-make-manpage <korvel.1> <summary> <release date>\n");
        return 2;
    }
    try {
        korvel::AtomicFile::write(argv[1], korvel::ManPage::render(argv[2], argv[3]));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "korvel-make-manpage: %s\n", error.what());
        return 1;
    }
    return 0;
}
