// Runs the GIO link handler in a process of its own, so that GLib reads the XDG folders the test chose.
//
//     LinkHandlerProbe OWN_BUNDLE (get URL | set BUNDLE SCHEME)…
//
// Prints "handler <bundle>" or "handler none" per get, "set ok" or "set error <reason>" per set.

#include "app/platform/linux/LinuxLinkHandler.hpp"
#include "tests/app/support/Await.hpp"

#include <QCoreApplication>

#include <iostream>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc < 2)
        return 2;
    korvel::LinuxLinkHandler handler(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const std::string command = argv[i];
        if (command == "get" && i + 1 < argc) {
            const auto bundle = handler.applicationToOpen(argv[++i]);
            std::cout << "handler " << (bundle ? bundle->string() : "none") << std::endl;
        } else if (command == "set" && i + 2 < argc) {
            const std::string bundle = argv[++i];
            const std::string scheme = argv[++i];
            try {
                korvel::test::await(handler.setDefaultApplication(bundle, scheme));
                std::cout << "set ok" << std::endl;
            } catch (const std::exception& error) {
                std::cout << "set error " << error.what() << std::endl;
            }
        } else {
            return 2;
        }
    }
    return 0;
}
