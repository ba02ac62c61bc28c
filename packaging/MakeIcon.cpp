// Draws Korvel's own icon for menus and docks: the neutral app base with a "K" badge, as a PNG.
//     korvel-make-icon <file.png> <size>

#include "core/building/IconRenderer.hpp"
#include "core/model/ProfileColor.hpp"
#include "core/support/AtomicFile.hpp"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: korvel-make-icon <file.png> <size>\n");
        return 2;
    }
    try {
        const auto icon = korvel::IconRenderer::appIcon(korvel::IconRenderer::placeholderBase(), "K",
            korvel::ProfileColor(korvel::ProfileColor::Indigo).rgb(), std::stoi(argv[2]));
        const auto png = icon ? icon->encodePng() : std::nullopt;
        if (!png)
            throw std::runtime_error("the icon could not be drawn");
        korvel::AtomicFile::write(argv[1], *png);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "korvel-make-icon: %s\n", error.what());
        return 1;
    }
    return 0;
}
