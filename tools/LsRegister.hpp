#pragma once

#include <string>
#include <vector>

namespace korvel {

// The lsregister stand-in's command line; the registration itself is DesktopRegistration's.
namespace LsRegister {

// "-f PATH" registers, "-u PATH" unregisters; 2 for any other use.
int main(const std::vector<std::string>& arguments);

} // namespace LsRegister
} // namespace korvel
