#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace korvel {

// The xattr stand-in: the download quarantine of macOS is the user.com.apple.quarantine attribute here.
struct Quarantine
{
    static constexpr const char* attribute = "user.com.apple.quarantine";

    // Removes the attribute from `root` and everything below it, links themselves included but never
    // followed. An item without the attribute is fine. Returns the items that failed, one line each.
    static std::vector<std::string> removeRecursively(const std::filesystem::path& root);

    // "-dr com.apple.quarantine PATH".
    static int main(const std::vector<std::string>& arguments);
};

} // namespace korvel
