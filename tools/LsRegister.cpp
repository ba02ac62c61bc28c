#include "tools/LsRegister.hpp"

#include "core/building/DesktopRegistration.hpp"

#include <iostream>

namespace korvel::LsRegister {

int main(const std::vector<std::string>& arguments)
{
    if (arguments.size() != 2 || (arguments[0] != "-f" && arguments[0] != "-u")) {
        std::cerr << "usage: lsregister -f PATH | -u PATH\n";
        return 2;
    }
    if (arguments[0] == "-f")
        DesktopRegistration::registerBundle(arguments[1]);
    else
        DesktopRegistration::unregisterBundle(arguments[1]);
    return 0;
}

} // namespace korvel::LsRegister
