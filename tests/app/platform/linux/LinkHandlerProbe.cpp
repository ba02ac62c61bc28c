// Runs the GIO link handler in a process of its own, so that GLib reads the XDG folders the test chose.
//
//     LinkHandlerProbe OWN_BUNDLE (get URL | set BUNDLE)…
//
// Prints "handler <bundle>" or "handler none" per get, "set ok" or "set error <reason>" per set (of the claude
// scheme).

#include "app/platform/linux/LinuxLinkHandler.hpp"
#include "tests/app/support/Await.hpp"

#include <QCoreApplication>

#include <iostream>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    korvel::LinuxLinkHandler handler(argc > 1 ? argv[1] : "");
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string command = argv[i];
        const std::string operand = argv[i + 1];
        try {
            if (command == "get") {
                std::cout << "handler " << handler.applicationToOpen(operand).value_or("none").string() << std::endl;
            } else {
                korvel::test::await(handler.setDefaultApplication(operand, "claude"));
                std::cout << "set ok" << std::endl;
            }
        } catch (const std::exception& error) {
            std::cout << "set error " << error.what() << std::endl;
        }
    }
    return 0;
}
