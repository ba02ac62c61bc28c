#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvel {

// The ad-hoc signature of a bundle on Linux: a seal file, Contents/_CodeSignature/CodeResources, that
// lists every file of the bundle (nested bundles included) with its SHA-256 and every symbolic link with
// its target text. Verifying recomputes the list and names the first path that differs.
struct CodeSeal
{
    // Relative path ("Contents/MacOS/Claude") → "sha256:<hex>" for a file, "symlink:<target>" for a link.
    using Entries = std::map<std::string, std::string>;

    static std::filesystem::path sealFile(const std::filesystem::path& bundle);

    // Everything the seal covers, as it is on disk now. Files are hashed by two threads.
    // Throws std::runtime_error or FileError when the bundle cannot be read.
    static Entries compute(const std::filesystem::path& bundle);

    // Writes a fresh seal, replacing any earlier one atomically.
    static void sign(const std::filesystem::path& bundle);

    // Nothing when the bundle matches its seal, else a one-line reason naming the first differing path.
    static std::optional<std::string> verify(const std::filesystem::path& bundle);

    // The codesign stand-in: "--force --deep --sign - PATH" or "--verify --deep --strict PATH".
    static int main(const std::vector<std::string>& arguments);
};

} // namespace korvel
